#include "Forms.h"

#include "About.h"
#include "Autoset.h"
#include "Configuration.h"
#include "LibraryMessages.h"
#include "Unit1.h"
#include "Unit2.h"
#include "Unit3.h"

static void initResources()
{
    // The tool bar images live in this static library; the program and the
    // tests register them before any window needs them.
    Q_INIT_RESOURCE(search);
}

void createApplicationForms()
{
    initResources();
    installLibraryMessageHandler();
    // Each window's creation may read the ones made before it.
    Form1 = new TForm1;
    Form3 = new TForm3(Form1);
    Form2 = new TForm2(Form1);
    frm_Configuration = new Tfrm_Configuration(Form1);
    frm_AutoSet = new Tfrm_AutoSet(Form1);
    frm_About = new Tfrm_About(Form1);
}

template <typename T>
static void destroy(T *&form)
{
    delete form;
    form = nullptr;
}

void destroyApplicationForms()
{
    destroy(frm_About);
    destroy(frm_AutoSet);
    destroy(frm_Configuration);
    destroy(Form2);
    destroy(Form3);
    destroy(Form1);
    removeLibraryMessageHandler();
}
