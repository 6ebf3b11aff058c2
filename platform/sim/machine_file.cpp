#include "platform/sim/machine_file.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStringList>

#include <limits>

namespace platform {
namespace {

// Reads one JSON object field by field; the first fault is kept and named
// with the place it stands ("drives[0].heads").
class Reader {
public:
    Reader(const QJsonObject& object, QString place, QString& error, const QDir& base)
        : object_(object), place_(std::move(place)), error_(error), base_(base) {}

    bool only(const QStringList& keys) {
        for (const QString& key : object_.keys())
            if (!keys.contains(key)) return fault(key, "unknown key");
        return true;
    }
    bool has(const char* key) const { return object_.contains(key); }
    QJsonValue value(const char* key) const { return object_.value(key); }

    void number(const char* key, int64_t& value, int64_t min, int64_t max) {
        if (!has(key) || !error_.isEmpty()) return;
        const QJsonValue v = object_.value(key);
        const double d = v.toDouble();
        if (!v.isDouble() || d != static_cast<double>(static_cast<int64_t>(d)) || d < double(min) ||
            d > double(max)) {
            fault(key, QString("not a whole number from %1 to %2").arg(min).arg(max));
            return;
        }
        value = static_cast<int64_t>(d);
    }
    template <typename T>
    void unsignedNumber(const char* key, T& value) {
        int64_t wide = static_cast<int64_t>(value);
        number(key, wide, 0, static_cast<int64_t>(std::min<uint64_t>(std::numeric_limits<T>::max(),
                                                                      uint64_t(1) << 53)));
        value = static_cast<T>(wide);
    }
    void flag(const char* key, bool& value) {
        if (!has(key) || !error_.isEmpty()) return;
        if (!object_.value(key).isBool()) {
            fault(key, "not true or false");
            return;
        }
        value = object_.value(key).toBool();
    }
    void text(const char* key, std::string& value) {
        if (!has(key) || !error_.isEmpty()) return;
        if (!object_.value(key).isString()) {
            fault(key, "not a string");
            return;
        }
        value = object_.value(key).toString().toStdString();
    }
    // "E" or "" (none).
    void letter(const char* key, char& value) { letterOf(object_.value(key), key, value); }
    bool letterOf(const QJsonValue& v, const QString& key, char& value) {
        if (v.isUndefined() || !error_.isEmpty()) return error_.isEmpty();
        const QString s = v.toString();
        if (!v.isString() || s.size() > 1 || (s.size() == 1 && (s[0] < 'A' || s[0] > 'Z')))
            return fault(key, "not a drive letter from A to Z, or \"\"");
        value = s.isEmpty() ? '\0' : static_cast<char>(s[0].unicode());
        return true;
    }
    // A file that must exist, relative to the machine file's folder.
    void file(const char* key, std::string& value) {
        std::string name;
        text(key, name);
        if (!has(key) || !error_.isEmpty()) return;
        const QString path = base_.absoluteFilePath(QString::fromStdString(name));
        if (!QFileInfo(path).isFile()) {
            fault(key, "no such file: " + path);
            return;
        }
        value = QDir::toNativeSeparators(path).toStdString();
    }
    // A folder, made when it is not there yet.
    bool folderOf(const QJsonValue& v, const QString& key, std::string& value) {
        if (v.isUndefined() || !error_.isEmpty()) return error_.isEmpty();
        if (!v.isString()) return fault(key, "not a string");
        const QString path = base_.absoluteFilePath(v.toString());
        if (!QDir().mkpath(path)) return fault(key, "cannot make the folder " + path);
        value = QDir::toNativeSeparators(path).toStdString();
        return true;
    }
    void folder(const char* key, std::string& value) { folderOf(object_.value(key), key, value); }

    QJsonArray array(const char* key) {
        if (!has(key) || !error_.isEmpty()) return {};
        if (!object_.value(key).isArray()) fault(key, "not a list");
        return object_.value(key).toArray();
    }
    bool fault(const QString& key, const QString& what) {
        if (error_.isEmpty()) error_ = place_ + (place_.isEmpty() ? "" : ".") + key + ": " + what;
        return false;
    }
    bool ok() const { return error_.isEmpty(); }
    const QString& place() const { return place_; }
    // A reader of the object under `key`, named with its place.
    bool nested(const QJsonValue& value, const QString& key, QJsonObject& object) {
        if (!error_.isEmpty()) return false;
        if (!value.isObject()) return fault(key, "not an object");
        object = value.toObject();
        return true;
    }
    Reader inner(const QJsonObject& object, const QString& key) {
        return Reader(object, place_ + (place_.isEmpty() ? "" : ".") + key, error_, base_);
    }

private:
    QJsonObject object_;
    QString place_;
    QString& error_;
    const QDir& base_;
};

bool objectAt(const QJsonValue& value, const QString& place, QString& error, QJsonObject& object) {
    if (!value.isObject()) {
        error = place + ": not an object";
        return false;
    }
    object = value.toObject();
    return true;
}

bool readVolume(Reader& r, SimPlatform& sim) {
    if (!r.only({"letter", "folder", "drive", "startSector", "sectors", "heldOpen"})) return false;
    char letter = '\0';
    int64_t drive = -1;
    SimVolume volume;
    r.letter("letter", letter);
    r.folder("folder", volume.directory);
    r.number("drive", drive, -1, 999);
    r.unsignedNumber("startSector", volume.startSector);
    r.unsignedNumber("sectors", volume.sectors);
    r.flag("heldOpen", volume.heldOpen);
    if (!r.ok()) return false;
    volume.driveNumber = static_cast<int>(drive);
    sim.addVolume(letter, volume);
    return true;
}

bool readArrival(Reader& r, SimArrival& arrival) {
    if (!r.only({"arriveAfterMs", "letters", "folders", "staleForMs"})) return false;
    int64_t after = 0;
    r.number("arriveAfterMs", after, -1, std::numeric_limits<int>::max());
    arrival.arriveAfterMs = static_cast<int>(after);
    r.unsignedNumber("staleForMs", arrival.staleForMs);
    const QJsonArray letters = r.array("letters");
    for (int i = 0; i < letters.size(); ++i) {
        char letter = '\0';
        if (!r.letterOf(letters[i], QString("letters[%1]").arg(i), letter)) return false;
        arrival.letters.push_back(letter);
    }
    const QJsonArray folders = r.array("folders");
    for (int i = 0; i < folders.size(); ++i) {
        std::string folder;
        if (!r.folderOf(folders[i], QString("folders[%1]").arg(i), folder)) return false;
        arrival.folders.push_back(folder);
    }
    return r.ok();
}

// The object under `key` of `r`'s object, read as an arrival.
bool readArrivalAt(Reader& r, const QJsonValue& value, const char* key, SimArrival& arrival) {
    QJsonObject object;
    if (!r.nested(value, key, object)) return false;
    Reader inner = r.inner(object, key);
    return readArrival(inner, arrival);
}

// A drive's media changes, in the order of their times.
bool readMediaChanges(Reader& r, SimDrive& drive) {
    const QJsonArray list = r.array("mediaChanges");
    for (int i = 0; i < list.size() && r.ok(); ++i) {
        const QString key = QString("mediaChanges[%1]").arg(i);
        QJsonObject object;
        if (!r.nested(list[i], key, object)) return false;
        Reader c = r.inner(object, key);
        if (!c.only({"atMs", "media", "image", "writeProtected"})) return false;
        if (!c.has("atMs") || !c.has("media")) return c.fault(c.has("atMs") ? "media" : "atMs", "missing");
        SimMediaChange change;
        c.unsignedNumber("atMs", change.atMs);
        c.flag("media", change.media);
        c.file("image", change.imagePath);
        if (c.has("writeProtected")) {
            bool writeProtected = false;
            c.flag("writeProtected", writeProtected);
            change.writeProtected = writeProtected;
        }
        if (!drive.mediaChanges.empty() && change.atMs < drive.mediaChanges.back().atMs)
            return c.fault("atMs", "before the change listed before it");
        drive.mediaChanges.push_back(change);
    }
    return r.ok();
}

bool readDrive(Reader& r, SimPlatform& sim, SimMachineFile& machine) {
    if (!r.only({"number", "image", "vendor", "product", "heads", "sectorsPerTrack", "removable",
                 "media", "writeProtected", "writeDelayMs", "busyForMs", "dropsWritesFrom",
                 "dropsWritesSectors", "sharedHoldMs", "mediaChanges", "afterRepartition"}))
        return false;
    if (!r.has("number") || !r.has("image")) return r.fault(r.has("number") ? "image" : "number", "missing");
    int64_t number = 0;
    r.number("number", number, 0, 999);
    SimDrive drive;
    r.file("image", drive.imagePath);
    r.text("vendor", drive.vendor);
    r.text("product", drive.product);
    r.unsignedNumber("heads", drive.heads);
    r.unsignedNumber("sectorsPerTrack", drive.sectorsPerTrack);
    r.flag("removable", drive.removable);
    r.flag("media", drive.media);
    r.flag("writeProtected", drive.writeProtected);
    r.unsignedNumber("writeDelayMs", drive.writeDelayMs);
    r.unsignedNumber("busyForMs", drive.busyForMs);
    r.unsignedNumber("dropsWritesFrom", drive.dropsWritesFrom);
    r.unsignedNumber("dropsWritesSectors", drive.dropsWritesSectors);
    r.unsignedNumber("sharedHoldMs", drive.sharedHoldMs);
    if (!readMediaChanges(r, drive)) return false;
    if (r.has("afterRepartition")) {
        SimArrival arrival;
        if (!readArrivalAt(r, r.value("afterRepartition"), "afterRepartition", arrival)) return false;
        drive.afterRepartition = arrival;
    }
    if (!r.ok()) return false;
    sim.addDrive(static_cast<int>(number), drive);
    if (machine.firstDrive < 0) machine.firstDrive = static_cast<int>(number);
    return true;
}

// The behaviours Windows' documentation leaves open (SimChoices), at the top level.
void readChoices(Reader& top, SimPlatform& sim) {
    SimChoices& choices = sim.choices();
    top.flag("unlockAfterVanishFails", choices.unlockAfterVanishFails);
    top.unsignedNumber("remountAfterDismountMs", choices.remountAfterDismountMs);
    top.flag("newVolumesGetLetters", choices.newVolumesGetLetters);
    const QJsonArray letters = top.array("slowLetters");
    for (int i = 0; i < letters.size(); ++i) {
        char letter = '\0';
        if (!top.letterOf(letters[i], QString("slowLetters[%1]").arg(i), letter)) return;
        if (letter != '\0') choices.slowLetters.insert(letter);
    }
}

// Each element of a list under `key` read as an object by `read`.
template <typename Read>
bool readList(Reader& top, const char* key, const QDir& base, QString& error, Read read) {
    const QJsonArray list = top.array(key);
    for (int i = 0; i < list.size() && error.isEmpty(); ++i) {
        const QString place = QString("%1[%2]").arg(key).arg(i);
        QJsonObject object;
        if (!objectAt(list[i], place, error, object)) return false;
        Reader r(object, place, error, base);
        if (!read(r)) return false;
    }
    return error.isEmpty();
}

}  // namespace

bool loadSimMachine(const std::string& path, SimPlatform& sim, SimMachineFile& machine,
                    std::string& error) {
    const QString name = QString::fromStdString(path);
    QFile file(name);
    if (!file.open(QIODevice::ReadOnly)) {
        error = path + ": " + file.errorString().toStdString();
        return false;
    }
    QJsonParseError parse;
    const QJsonDocument document = QJsonDocument::fromJson(file.readAll(), &parse);
    if (parse.error != QJsonParseError::NoError || !document.isObject()) {
        error = path + ": not a JSON object" +
                (parse.error != QJsonParseError::NoError
                     ? " (" + parse.errorString().toStdString() + " at " + std::to_string(parse.offset) + ")"
                     : std::string());
        return false;
    }
    const QDir base = QFileInfo(name).absoluteDir();
    QString fault;
    Reader top(document.object(), QString(), fault, base);
    int64_t autopilot = -1;
    const bool read =
        top.only({"drives", "volumes", "afterRepartition", "autopilotDrive", "unlockAfterVanishFails",
                  "remountAfterDismountMs", "newVolumesGetLetters", "slowLetters"}) &&
        (top.has("drives") || top.fault("drives", "missing")) &&
        readList(top, "drives", base, fault, [&](Reader& r) { return readDrive(r, sim, machine); }) &&
        readList(top, "volumes", base, fault, [&](Reader& r) { return readVolume(r, sim); });
    if (read && top.has("afterRepartition")) {
        SimArrival arrival;
        if (readArrivalAt(top, top.value("afterRepartition"), "afterRepartition", arrival))
            sim.setAfterRepartition(arrival);
    }
    top.number("autopilotDrive", autopilot, 0, 999);
    readChoices(top, sim);
    machine.autopilotDrive = autopilot >= 0 ? static_cast<int>(autopilot) : machine.firstDrive;
    if (!fault.isEmpty()) {
        error = path + ": " + fault.toStdString();
        return false;
    }
    return true;
}

}  // namespace platform
