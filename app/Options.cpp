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
const std::string kAdapterKey = "Adapter";

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
    values.adapter = QString::fromStdString(platform::readProfileString(path, kSection, kAdapterKey).value_or(""));
    return values;
}

bool write(const Values &values, QString *error)
{
    std::vector<std::pair<std::string, std::string>> pairs{{kNumberKey, std::to_string(values.number)},
                                                           {kTimeOutKey, std::to_string(values.timeOut)}};
    // A file of an operator who never chose an adapter stays as it was.
    const auto path = nativePath(filePath());
    if (!values.adapter.isEmpty() || platform::readProfileString(path, kSection, kAdapterKey))
        pairs.emplace_back(kAdapterKey, values.adapter.toStdString());
    std::string reason;
    const bool ok = platform::writeProfileStrings(
        path, kSection, pairs,
        &reason);
    if (!ok && error)
        *error = QString::fromLocal8Bit(reason.c_str());
    return ok;
}

} // namespace options
