#include "Options.h"

#include "platform/ProfileFile.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>

#include <filesystem>
#include <string>

namespace options {
namespace {

const std::string kSection = "option";
const std::string kNumberKey = "SNumber";
const std::string kTimeOutKey = "STimeOut";

std::filesystem::path nativePath(const QString &path)
{
#if defined(_WIN32)
    return std::filesystem::path(QDir::toNativeSeparators(path).toStdWString());
#else
    return std::filesystem::path(QFile::encodeName(path).toStdString());
#endif
}

} // namespace

QString filePath()
{
    return QCoreApplication::applicationDirPath() + QStringLiteral("/option.ini");
}

Values read()
{
    const auto path = nativePath(filePath());
    Values values;
    values.number = platform::readProfileInt(path, kSection, kNumberKey, kDefaultNumber);
    // A hand-edited negative time-out is taken as the unsigned number it spells.
    values.timeOut = static_cast<uint32_t>(
        platform::readProfileInt(path, kSection, kTimeOutKey, static_cast<int>(kDefaultTimeOut)));
    return values;
}

bool write(const Values &values, QString *error)
{
    std::string reason;
    const bool ok = platform::writeProfileStrings(
        nativePath(filePath()), kSection,
        {{kNumberKey, std::to_string(values.number)}, {kTimeOutKey, std::to_string(values.timeOut)}},
        &reason);
    if (!ok && error)
        *error = QString::fromLocal8Bit(reason.c_str());
    return ok;
}

} // namespace options
