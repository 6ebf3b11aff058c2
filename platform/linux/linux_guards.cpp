// Named guards of the Linux backend: an flock on a file under /run/lock, one
// file per name. The kernel drops the lock with the last descriptor, also when
// the process is killed, so a file left behind holds nothing and is used again.

#include "platform/linux/linux_errors.h"
#include "platform/linux/linux_platform.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {
namespace {

constexpr char16_t kGlobalPrefix[] = u"Global\\";
constexpr char16_t kDriveGuardPrefix[] = u"ZelRecoveryDrive";

bool startsWith(const std::u16string& text, const char16_t* prefix) {
    return text.compare(0, std::char_traits<char16_t>::length(prefix), prefix) == 0;
}

// "Global\ZelRecoveryDrive1" -> "zel-recovery-sdb.lock", by the drive's device
// name, so that the file says which card it guards. Any other name -> the
// name itself (ASCII letters, digits and '-' kept, the rest '_') + ".lock".
std::string lockFileOf(const char16_t* name) {
    std::u16string text(name);
    if (startsWith(text, kGlobalPrefix)) text.erase(0, std::char_traits<char16_t>::length(kGlobalPrefix));
    if (startsWith(text, kDriveGuardPrefix)) {
        const std::u16string digits = text.substr(std::char_traits<char16_t>::length(kDriveGuardPrefix));
        uint32_t number = 0;
        bool numeric = !digits.empty() && digits.size() <= 3;
        for (char16_t c : digits) {
            numeric = numeric && c >= u'0' && c <= u'9';
            number = number * 10 + static_cast<uint32_t>(c - u'0');
        }
        if (numeric)
            if (std::optional<linuxos::BlockName> drive = linuxos::BlockName::ofDrive(number))
                return "zel-recovery-" + drive->text() + ".lock";
    }
    std::string file;
    for (char16_t c : text) {
        const bool plain = (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') ||
                           (c >= u'0' && c <= u'9') || c == u'-';
        file += plain ? static_cast<char>(c) : '_';
    }
    return file + ".lock";
}

}  // namespace

Handle LinuxPlatform::CreateMutexW(const char16_t* name) {
    if (name == nullptr || *name == 0) {
        fail(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    // /run/lock is made at boot; a system without it gets it here.
    ::mkdir(roots_.runLock.c_str(), 0755);
    const std::string path = roots_.runLock + "/" + lockFileOf(name);
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644);
    if (fd < 0) {
        fail(linuxos::windowsError(errno));
        return INVALID_HANDLE_VALUE;
    }
    // flock belongs to the open file: a second open in this process meets it too.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        ::close(fd);
        fail(error == EWOULDBLOCK ? ERROR_ALREADY_EXISTS : linuxos::windowsError(error));
        return INVALID_HANDLE_VALUE;
    }
    std::lock_guard<std::mutex> guard(mutex_);
    const Handle handle = nextHandle_;
    nextHandle_ += 4;
    guards_[handle] = fd;
    return handle;
}

}  // namespace platform
