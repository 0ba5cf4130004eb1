#include "Options.h"

#include "FormUtils.h"

#include "platform/ProfileFile.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

namespace options {
namespace {

const std::string kSection = "option";
const std::string kNumberKey = "SNumber";
const std::string kTimeOutKey = "STimeOut";
const std::string kAdapterKey = "Adapter";
const std::string kSearchAgainKey = "SearchAgain";

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

} // namespace

QString filePath()
{
    return QCoreApplication::applicationDirPath() + QStringLiteral("/option.ini");
}

QString userFilePath()
{
    const QString config = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    const QString program = QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName();
    return config + QLatin1Char('/') + program + QStringLiteral("/option.ini");
}

QStringList readOrder()
{
    return {userFilePath(), filePath()};
}

Values read()
{
    QString chosen = filePath();
    for (const QString &candidate : readOrder()) {
        if (QFileInfo::exists(candidate)) {
            chosen = candidate;
            break;
        }
    }
    const auto path = nativePath(chosen);
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
    WriteResult result;
    const QString user = userFilePath();
    if (!QFileInfo::exists(user)) {
        if (writeTo(filePath(), values, &result.programReason)) {
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
    if (writeTo(user, values, &result.userReason)) {
        result.where = WriteResult::UserFolder;
        result.path = user;
    }
    return result;
}

} // namespace options
