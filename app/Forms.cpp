#include "Forms.h"

#include "About.h"
#include "Autoset.h"
#include "Configuration.h"
#include "LibraryMessages.h"
#include "Unit1.h"
#include "Unit2.h"
#include "Unit3.h"

TForm1 *Form1 = nullptr;
TForm3 *Form3 = nullptr;
TForm2 *Form2 = nullptr;
Tfrm_Configuration *frm_Configuration = nullptr;
Tfrm_AutoSet *frm_AutoSet = nullptr;
Tfrm_About *frm_About = nullptr;

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
    // The main window makes what the dialogs share: the library's session,
    // the module table they read and the host services.
    Form1 = new TForm1;
    Form3 = new TForm3(Form1, Form1->Session());
    Form2 = new TForm2(Form1, *Form1, Form1->Services());
    frm_Configuration = new Tfrm_Configuration(Form1);
    frm_AutoSet = new Tfrm_AutoSet(Form1, *Form1, Form1->Services());
    frm_About = new Tfrm_About(Form1, Form1->VersionText);
    // Each window answers to the name it is known by, as the design names it.
    Form1->setObjectName(QStringLiteral("Form1"));
    Form3->setObjectName(QStringLiteral("Form3"));
    Form2->setObjectName(QStringLiteral("Form2"));
    frm_Configuration->setObjectName(QStringLiteral("frm_Configuration"));
    frm_AutoSet->setObjectName(QStringLiteral("frm_AutoSet"));
    frm_About->setObjectName(QStringLiteral("frm_About"));
    Form1->SetDialogs({Form3, Form2, frm_Configuration, frm_AutoSet, frm_About});
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
