// What the dialogs read of the last search: the result grid's cells by
// column and module number, and how many modules it lists. The main window
// provides it; the dialogs get it when they are created, so they never
// reach into the main window.
#pragma once

#include <QString>

class ModuleTable
{
public:
    // The grid's fixed columns.
    enum Column { No = 0, Name = 1, Alias = 2, Dhcp = 3, Ip = 4, Mask = 5, Gateway = 6, Mac = 7 };

    // The cell as shown ("N/A" for no alias, "Enable"/"Disable"); row n
    // shows module n, wherever the operator has dragged it.
    virtual QString ModuleCell(int column, int number) const = 0;
    // Number of modules listed by the last search.
    virtual int ModuleCount() const = 0;

protected:
    ~ModuleTable() = default;
};
