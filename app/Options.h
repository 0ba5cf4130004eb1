// The options file option.ini, section "option", keys "SNumber" (wished
// number of search results), "STimeOut" (search time-out in milliseconds)
// and "Adapter" (the host adapter whose settings the configuration dialogs
// propose; empty or missing: the first adapter) and "SearchAgain" (0: no search
// confirms a configuration; default, and a file without the key, 1). It lives beside the program file; where that folder or file
// cannot be written, a copy in the user's configuration folder takes over
// and is read first from then on. Section "given" holds the addresses this
// program gave to modules, one "address=MAC" line each.
#pragma once

#include <QString>
#include <QStringList>

#include <cstdint>
#include <utility>
#include <vector>

namespace options {

inline constexpr int32_t kDefaultNumber = 0;
inline constexpr uint32_t kDefaultTimeOut = 2000;

// The folder of the program file followed by "option.ini".
QString filePath();
// option.ini in a folder named after the program in the user's configuration
// folder ($XDG_CONFIG_HOME, else ~/.config, on Linux).
QString userFilePath();
// The files read, first one that exists wins: the user's, then the program's.
QStringList readOrder();

// One field per key; a new key is one field here and one line in each of
// read() and the list of entries that write() sends (Options.cpp).
struct Values {
    int32_t number = kDefaultNumber;
    uint32_t timeOut = kDefaultTimeOut;
    QString adapter;
    // "SearchAgain": a search confirms each configuration; off, an
    // acknowledgement is all the program can tell.
    bool searchAgain = true;
};

// Reads every key from the first file of readOrder() that exists; a missing
// or unreadable file, a missing key or a value that is not an integer gives
// that key's default. Never creates a file, never throws.
Values read();

struct WriteResult {
    enum Where { BesideProgram, UserFolder, Nowhere } where = Nowhere;
    QString path;           // where the values were stored; empty for Nowhere
    QString programReason;  // why not beside the program, when not there
    QString userReason;     // why not in the user's folder, for Nowhere
    // The program lives in a system folder (see write()): the user's folder
    // is the expected place, nothing the operator needs to be told.
    bool systemFolder = false;
};

// Writes every key in one replacement of a file: the user's file when it
// exists (it is what is read first), else the program's; when that fails or
// is marked read-only, the user's file. When the program's folder is a
// system folder (on Linux under /usr or /opt, or one this user cannot
// write), the user's file from the start. A file that was not written is
// left as it was. Never throws.
WriteResult write(const Values &values);

// Addresses given to modules, with the MAC of the module each went to.
using GivenAddresses = std::vector<std::pair<QString, QString>>;
// The "given" section of the file read() reads; none when it has none.
GivenAddresses readGiven();
// Makes the "given" section hold `given` (none: the section goes), in the
// file write() would choose, with the same fallback. A file without the
// section is not touched while there is nothing to keep.
WriteResult writeGiven(const GivenAddresses &given);

// Section "window": where the operator left the windows (WindowPlace.h),
// as key and value texts.
using WindowKeys = std::vector<std::pair<QString, QString>>;
WindowKeys readWindow();
// Sets those keys, in the file write() would choose, with the same fallback.
WriteResult writeWindow(const WindowKeys &keys);

} // namespace options
