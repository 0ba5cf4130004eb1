// Small helpers shared by the windows of the program.
#pragma once

#include <filesystem>

class QLabel;
class QString;
class QWidget;
class QFont;

// Modal results, with the values the windows' callers compare against.
enum ModalResult : int { mrNone = 0, mrOk = 1, mrCancel = 2, mrIgnore = 5 };

// The windows' font: "MS Sans Serif" 8 pt, 11 pixels high. Where that font
// is missing the narrowest close sans font at the same pixel height keeps
// the texts inside the fixed layout. A desktop set to larger lettering than
// its stock 9 pt (12 pixels) is honoured: the windows then take the
// desktop's pixel size, in the same families.
QFont designFont();
// The windows' font size over the designed 11 pixels: 1 at the designed
// font, and a designed length at the present font.
double fontScale();
int scaled(int length);
// Gives a window its font; at a larger font also scales, once, the designed
// places and sizes of the window's own widgets, so that nothing clips.
void applyDesignFont(QWidget *window);

// Sets a label's text and sizes it to that text, like an auto-sizing label
// that keeps its left and top edges.
void setLabelText(QLabel *label, const QString &text);

// Sizes every single-line label of a window to its text.
void autoSizeLabels(QWidget *window);

// Gives a window a fixed client size: the designed one, scaled to the font.
void setClientSize(QWidget *window, int width, int height);

// A file name as the operator gave it, as the system's file functions take it.
std::filesystem::path nativePath(const QString &path);
