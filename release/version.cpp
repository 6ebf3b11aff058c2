#include "release/version.h"

// The one place the version is set: the build reads the release packages'
// version from this line (packaging/version_forms.cmake).
const ProgramVersion programVersion = {5, 3, 0, 0};

namespace {

const char* releaseWord(uint8_t kind) {
    switch (kind) {
    case RELEASE_CANDIDATE: return "RC";
    case RELEASE_BETA: return "BETA";
    case RELEASE_DEBUG: return "DEBUG";
    default: return "";
    }
}

}  // namespace

QString versionString(const ProgramVersion& version, bool fullForm) {
    std::string text = numberToString(static_cast<unsigned>(version.major)) + "." +
                       numberToString(static_cast<unsigned>(version.minor));
    if (fullForm || version.patch != 0)
        text += "." + numberToString(static_cast<unsigned>(version.patch));
    const uint8_t kind = version.releaseTag & RELEASE_KIND_MASK;
    if (kind != RELEASE_FINAL) {
        text += fullForm ? "." : " ";
        text += releaseWord(kind);
        text += numberToString(static_cast<int>(version.releaseTag & RELEASE_NUMBER_MASK));
    }
    return QString::fromStdString(text);
}

std::string versionText(const ProgramVersion& version) {
    return versionString(version, true).toStdString();
}
