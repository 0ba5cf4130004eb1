// The options file option.ini beside the program file: section "option",
// keys "SNumber" (wished number of search results), "STimeOut" (search
// time-out in milliseconds) and "Adapter" (the host adapter whose settings
// the configuration dialogs propose; empty or missing: the first adapter).
#pragma once

#include <QString>

#include <cstdint>

namespace options {

inline constexpr int32_t kDefaultNumber = 0;
inline constexpr uint32_t kDefaultTimeOut = 2000;

// The folder of the program file followed by "option.ini".
QString filePath();

struct Values {
    int32_t number = kDefaultNumber;
    uint32_t timeOut = kDefaultTimeOut;
    QString adapter;
};

// Reads "SNumber" then "STimeOut"; a missing file, key or a value that is not
// an integer gives that key's default. Never creates the file.
Values read();

// Writes "SNumber", "STimeOut" and "Adapter" in one replacement of the file. False with
// a reason in *error when the file could not be written; it is then unchanged.
bool write(const Values &values, QString *error);

} // namespace options
