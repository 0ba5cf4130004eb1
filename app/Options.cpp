#include "Options.h"

#include "FormUtils.h"

#include "platform/ProfileFile.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <filesystem>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#ifndef Q_OS_WIN
#include <unistd.h>
#endif

namespace options {
namespace {

const std::string kSection = "option";
const std::string kNumberKey = "SNumber";
const std::string kTimeOutKey = "STimeOut";
const std::string kAdapterKey = "Adapter";
const std::string kSearchAgainKey = "SearchAgain";
const std::string kGivenSection = "given";
const std::string kWindowSection = "window";

// The keys in the order the program writes them into a new file.
std::vector<std::pair<std::string, std::string>> entries(const Values &values)
{
    return {
        {kNumberKey, std::to_string(values.number)},
        {kTimeOutKey, std::to_string(values.timeOut)},
    };
}

bool writeTo(const QString &path, const Values &values, QString *reason)
{
    std::string why;
    auto pairs = entries(values);
    // A file of an operator who never chose an adapter stays as it was.
    if (!values.adapter.isEmpty() || platform::readProfileString(nativePath(path), kSection, kAdapterKey))
        pairs.emplace_back(kAdapterKey, values.adapter.toStdString());
    // Likewise for an operator who never turned the check off.
    if (!values.searchAgain || platform::readProfileString(nativePath(path), kSection, kSearchAgainKey))
        pairs.emplace_back(kSearchAgainKey, values.searchAgain ? "1" : "0");
    if (platform::writeProfileStrings(nativePath(path), kSection, pairs, &why))
        return true;
    *reason = QString::fromLocal8Bit(why.c_str());
    return false;
}

bool writeGivenTo(const QString &path, const GivenAddresses &given, QString *reason)
{
    std::vector<std::pair<std::string, std::string>> pairs;
    for (const auto &[address, mac] : given)
        pairs.emplace_back(address.toStdString(), mac.toStdString());
    std::string why;
    if (platform::writeProfileSection(nativePath(path), kGivenSection, pairs, &why))
        return true;
    *reason = QString::fromLocal8Bit(why.c_str());
    return false;
}

// The file read() reads.
QString readPath()
{
    for (const QString &candidate : readOrder()) {
        if (QFileInfo::exists(candidate))
            return candidate;
    }
    return filePath();
}

// An installed program's folder belongs to the system: trying it first would
// only fail, or (run as root) leave a file there that users cannot change.
bool inSystemFolder()
{
#ifdef Q_OS_WIN
    const QString dir = QDir::fromNativeSeparators(QCoreApplication::applicationDirPath());
    for (const char *variable : {"ProgramFiles", "ProgramFiles(x86)", "ProgramW6432"}) {
        const QString system = QDir::fromNativeSeparators(qEnvironmentVariable(variable));
        if (!system.isEmpty() &&
            (dir.compare(system, Qt::CaseInsensitive) == 0 || dir.startsWith(system + QLatin1Char('/'), Qt::CaseInsensitive)))
            return true;
    }
    return false;
#else
    const QString dir = QFileInfo(QCoreApplication::applicationDirPath()).canonicalFilePath();
    for (const QString &system : {QStringLiteral("/usr"), QStringLiteral("/opt")}) {
        if (dir == system || dir.startsWith(system + QLatin1Char('/')))
            return true;
    }
    return ::access(QFile::encodeName(dir).constData(), W_OK) != 0;
#endif
}

using Store = std::function<bool(const QString &path, QString *reason)>;

// `store` into the user's file when it exists (it is what is read first),
// else the program's; when that fails, the user's. A user's file made here
// is read first from then on, so it starts as a copy of the program's file:
// no section is lost (the window's place, the given addresses, or one this
// version does not know).
WriteResult storeWith(const Store &store)
{
    WriteResult result;
    const QString user = userFilePath();
    const bool userExists = QFileInfo::exists(user);
    result.systemFolder = inSystemFolder();
    if (!userExists && !result.systemFolder) {
        if (store(filePath(), &result.programReason)) {
            result.where = WriteResult::BesideProgram;
            result.path = filePath();
            return result;
        }
    }
    const QString folder = QFileInfo(user).absolutePath();
    if (!QDir().mkpath(folder)) {
        result.userReason = QStringLiteral("cannot create the folder %1").arg(folder);
        return result;
    }
    if (!userExists && QFileInfo(filePath()).isFile() && QFile::copy(filePath(), user))
        QFile::setPermissions(user, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther);
    if (store(user, &result.userReason)) {
        result.where = WriteResult::UserFolder;
        result.path = user;
    }
    return result;
}

} // namespace

QString filePath()
{
    return QCoreApplication::applicationDirPath() + QStringLiteral("/option.ini");
}

QString userFilePath()
{
#ifdef Q_OS_WIN
    // Settings that follow the user from machine to machine belong in the
    // roaming folder; Qt's generic config folder is the local one.
    QString config = QDir::fromNativeSeparators(qEnvironmentVariable("APPDATA"));
    if (config.isEmpty())
        config = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
#else
    const QString config = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
#endif
    const QString program = QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName();
    return config + QLatin1Char('/') + program + QStringLiteral("/option.ini");
}

QStringList readOrder()
{
    return {userFilePath(), filePath()};
}

Values read()
{
    const auto path = nativePath(readPath());
    Values values;
    values.number = platform::readProfileInt(path, kSection, kNumberKey, kDefaultNumber);
    // A hand-edited negative time-out is taken as the unsigned number it spells.
    values.timeOut = static_cast<uint32_t>(
        platform::readProfileInt(path, kSection, kTimeOutKey, static_cast<int>(kDefaultTimeOut)));
    values.adapter = QString::fromStdString(platform::readProfileString(path, kSection, kAdapterKey).value_or(""));
    values.searchAgain = platform::readProfileInt(path, kSection, kSearchAgainKey, 1) != 0;
    return values;
}

WriteResult write(const Values &values)
{
    return storeWith([&values](const QString &path, QString *reason) { return writeTo(path, values, reason); });
}

GivenAddresses readGiven()
{
    GivenAddresses given;
    for (const auto &[address, mac] : platform::readProfileSection(nativePath(readPath()), kGivenSection))
        given.emplace_back(QString::fromStdString(address), QString::fromStdString(mac));
    return given;
}

WriteResult writeGiven(const GivenAddresses &given)
{
    return storeWith([&given](const QString &path, QString *reason) { return writeGivenTo(path, given, reason); });
}

WindowKeys readWindow()
{
    WindowKeys keys;
    for (const auto &[key, value] : platform::readProfileSection(nativePath(readPath()), kWindowSection))
        keys.emplace_back(QString::fromStdString(key), QString::fromStdString(value));
    return keys;
}

WriteResult writeWindow(const WindowKeys &keys)
{
    std::vector<std::pair<std::string, std::string>> pairs;
    for (const auto &[key, value] : keys)
        pairs.emplace_back(key.toStdString(), value.toStdString());
    return storeWith([&pairs](const QString &path, QString *reason) {
        std::string why;
        if (platform::writeProfileStrings(nativePath(path), kWindowSection, pairs, &why))
            return true;
        *reason = QString::fromLocal8Bit(why.c_str());
        return false;
    });
}

} // namespace options
