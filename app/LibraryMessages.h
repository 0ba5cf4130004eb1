// Shows the library's own messages (socket failures) through AppMessageBox.
#pragma once

#include "zarfel.h"

class QString;

// Installs the library's message handler. A message raised on the
// user-interface thread is shown there directly; one raised on the library's
// receive thread is queued to the user-interface thread and the raising
// thread returns at once, so that it never waits on a window thread that is
// closing the library and waiting for it.
void installLibraryMessageHandler();
void removeLibraryMessageHandler();

// The handler that installLibraryMessageHandler gives the library.
ZarfelMessageHandler libraryMessageHandler();

// Title of the boxes that show the library's messages.
QString libraryMessageTitle();
