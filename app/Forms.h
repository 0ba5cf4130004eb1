// The program's windows, each created once for the whole run. The global
// instances are for the code that creates the windows and for tests; the
// windows themselves get what they need when they are created.
#pragma once

class TForm1;
class TForm2;
class TForm3;
class Tfrm_Configuration;
class Tfrm_AutoSet;
class Tfrm_About;

extern TForm1 *Form1;
extern TForm3 *Form3;
extern TForm2 *Form2;
extern Tfrm_Configuration *frm_Configuration;
extern Tfrm_AutoSet *frm_AutoSet;
extern Tfrm_About *frm_About;

// Installs the library's message handler and creates the six windows in
// the order Form1, Form3, Form2, frm_Configuration, frm_AutoSet, frm_About.
// Creating Form1 initialises the library.
void createApplicationForms();
// Destroys the windows in the reverse order and removes the message handler.
void destroyApplicationForms();
