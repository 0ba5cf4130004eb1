// Common ground of the window tests: the program's windows created as the
// program creates them, option.ini beside the test program, modal dialogs
// answered from timers, and module simulators in the test's own network.
#pragma once

#include <QByteArray>
#include <QString>
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
// broadcast to the reply port. Null (with a test warning) when it cannot bind.
std::unique_ptr<modsim::ModuleSimulator> startSimulator(std::vector<modsim::ModuleSpec> modules);

} // namespace apptest
