// Common ground of the window tests: the program's windows created as the
// program creates them, option.ini beside the test program, modal dialogs
// answered from timers, mouse gestures on the grid, and module simulators in
// the test's own network. Widgets are found by name (fixtures.h).
#pragma once

#include "fixtures.h"

#include <QByteArray>
#include <QPoint>
#include <QString>
#include <QStringList>
#include <QWidget>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "modsim/simulator.h"

namespace apptest {

// option.ini beside the test program, where the program looks for it.
QString optionFilePath();
void writeOptionFile(const QByteArray &contents);
void removeOptionFile();
QByteArray readOptionFile();

// True when the test runs on a test LAN (scripts/with-testlan.sh); then the
// LAN's id is written to the file named by APP_LAN_ID_FILE, so that the
// runner can check the LAN is gone afterwards.
bool onTestLan();
// A file of the test LAN's folder (TESTLAN_DIR), such as a module
// namespace's simulator log m<N>.log or its settings m<N>.state.
QString testLanFile(const QString &name);
// The layout of scripts/testlan.sh the test runs in (HOSTNET_LAYOUT).
QString netnsLayout();
// Runs ip(8) in the test's own namespace; true when it succeeded.
bool ip(const QStringList &arguments);

// Creates the six windows and shows the main window; false when it never
// became exposed.
bool startProgram();
// Closes the main window (which closes the library) and destroys the windows.
void stopProgram();

// Clicks a widget at its centre if it is visible and enabled; false (with a
// warning naming it) otherwise.
bool clickEnabled(QWidget *widget);
// The same for the child of `window` with that object name.
bool clickNamed(QWidget *window, const char *name);

// Presses Search and returns once the progress dialog has closed. False when
// the button could not be pressed, or when `expected` (unless negative)
// differs from the number of modules listed, which a warning names.
bool search(int expected = -1);

// Centre of a grid cell on screen, by the row's place on screen and the
// column's own number.
QPoint cellCentre(const TStringGrid *grid, int visualRow, int column);
// A drag with the left button held, in steps, as a hand makes it.
void drag(QWidget *surface, QPoint from, QPoint to);

// Runs `action` once on the user-interface thread as soon as the active
// modal widget satisfies `match`, polling every 20 ms for up to `limitMs`.
// The returned flag turns true when the action has run.
std::shared_ptr<bool> whenModal(std::function<bool(QWidget *)> match, std::function<void(QWidget *)> action,
                                int limitMs = 30000);
// Runs `action` after `delayMs` while the given modal widget is shown.
std::shared_ptr<bool> whenModalFor(QWidget *modal, int delayMs, std::function<void(QWidget *)> action,
                                   int limitMs = 30000);

// A module of the test LAN (198.18.0.0/15) with the simulator's defaults
// for the rest.
modsim::ModuleSpec module(std::size_t index, const std::string &name, const std::string &alias, int dhcp,
                          const std::string &behaviour = "ok");

// Simulated modules answering searches on the device port, replying by
// broadcast to the reply port from each module's own address (in the test's
// own namespace), logging what they receive to `logPath` if given. Null
// (with a test warning) when it cannot bind.
std::unique_ptr<modsim::ModuleSimulator> startSimulator(std::vector<modsim::ModuleSpec> modules,
                                                        const QString &logPath = QString());
// The configuration requests a simulator logged receiving, in order; its
// log lines read "<seconds> RX <address>:<port> <length> <data>", with the
// bytes outside 0x20..0x7E of the data as \xHH.
QStringList configRequests(const QString &logPath);

} // namespace apptest
