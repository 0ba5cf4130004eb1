// The program without a mouse: every command by its key, Enter on a
// dialog's default button, Tab in the order the controls are shown; and the
// windows' own colours readable on dark and high-contrast schemes.
#include "app_test_support.h"

#include "AppMessageBox.h"
#include "Contrast.h"
#include "Forms.h"
#include "FormUtils.h"
#include "Unit1.h"
#include "Unit2.h"

#include <QApplication>
#include <QDir>
#include <QHash>
#include <QImage>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>

using apptest::logLines;
using apptest::ui;

namespace {

// Presses `key` in whatever has the focus of `window`.
void press(QWidget *window, int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
{
    QWidget *target = window->focusWidget() ? window->focusWidget() : window;
    QTest::keyClick(target, Qt::Key(key), modifiers);
}

// The main window active again once a dialog has closed, as the desktop's
// window manager makes it; the offscreen platform has none.
bool activate()
{
    if (!QTest::qWaitFor([] { return !QApplication::activeModalWidget(); }, 10000))
        return false;
    return QTest::qWaitFor([] {
        Form1->activateWindow();
        return QApplication::activeWindow() == Form1;
    });
}

// Runs `keys` on the dialog `name` once it is modal; true when it was.
std::shared_ptr<bool> whenShown(const char *name, std::function<void(QWidget *)> keys)
{
    // Keys go where the focus is once the dialog has become the active window.
    return apptest::whenModal(
        [name](QWidget *w) { return w->objectName() == QLatin1String(name) && QApplication::activeWindow() == w; },
                              std::move(keys), 10000);
}

// The names of the controls Tab visits in `dialog`, from its focus on.
QStringList tabChain(QWidget *dialog, int steps)
{
    QStringList names;
    for (int i = 0; i < steps; ++i) {
        names << (dialog->focusWidget() ? dialog->focusWidget()->objectName() : QStringLiteral("(none)"));
        press(dialog, Qt::Key_Tab);
    }
    return names;
}

// The contrast of the text in `area` of what `widget` shows: its most
// frequent colour is the background, the pixel farthest from it the text.
double shownContrast(QWidget *widget, const QRect &area)
{
    const QImage image = widget->grab().toImage();
    QHash<QRgb, int> counts;
    const QRect inside = area.intersected(image.rect());
    for (int y = inside.top(); y <= inside.bottom(); ++y)
        for (int x = inside.left(); x <= inside.right(); ++x)
            ++counts[image.pixel(x, y)];
    QRgb background = 0;
    int most = 0;
    for (auto it = counts.constBegin(); it != counts.constEnd(); ++it)
        if (it.value() > most)
            std::tie(background, most) = std::pair(it.key(), it.value());
    double best = 1.0;
    for (auto it = counts.constBegin(); it != counts.constEnd(); ++it)
        best = std::max(best, contrast::ratio(QColor(it.key()), QColor(background)));
    return best;
}

QPalette scheme(const QColor &window, const QColor &text, const QColor &base, const QColor &light)
{
    QPalette p(text, window, light, window.darker(150), window.darker(120), text, text, base, window);
    p.setColor(QPalette::Highlight, QColor(255, 255, 0));
    p.setColor(QPalette::HighlightedText, Qt::black);
    return p;
}

} // namespace

class KeyboardTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        m_palette = QApplication::palette();
    }
    void init()
    {
        AppMessageBox::reset();
        apptest::removeOptionFile();
        QVERIFY(apptest::startProgram());
        QVERIFY(activate());
    }
    void cleanup()
    {
        apptest::stopProgram();
        QApplication::setPalette(m_palette);
        AppMessageBox::reset();
        apptest::removeOptionFile();
    }

    void everyCommandHasAKey()
    {
        // Help finds no file and no viewer here: its box tells it ran.
        QTemporaryDir work;
        QVERIFY(QDir::setCurrent(work.path()));
        qputenv("PATH", work.path().toLocal8Bit());
        TStringGrid *grid = apptest::grid();
        for (int column = 0; column < 8; ++column)
            grid->SetCells(column, 1, column == 4 ? QStringLiteral("198.18.0.5") : QStringLiteral("1"));
        grid->SelectRow(1);
        Form1->Tag = 1;
        ui(Form1, "ToolButton2")->setEnabled(true);

        const auto escape = [](QWidget *dialog) { press(dialog, Qt::Key_Escape); };
        struct Command
        {
            const char *what;
            int key;
            Qt::KeyboardModifiers modifiers;
            const char *dialog;
        };
        const Command commands[] = {
            {"Options", Qt::Key_O, Qt::AltModifier, "frm_Configuration"},
            {"Configuration", Qt::Key_C, Qt::AltModifier, "Form2"},
            {"Set multiple modules", Qt::Key_M, Qt::ControlModifier, "frm_AutoSet"},
            {"About", Qt::Key_F1, Qt::ControlModifier, "frm_About"},
        };
        for (const Command &command : commands) {
            // The About box closes by Enter on its OK button.
            auto shown = whenShown(command.dialog, command.key == Qt::Key_F1 ? [](QWidget *dialog) {
                press(dialog, Qt::Key_Return);
            } : std::function<void(QWidget *)>(escape));
            QTest::keyClick(Form1, Qt::Key(command.key), command.modifiers);
            QTRY_VERIFY2(*shown, command.what);
            QVERIFY(activate());
        }

        // Enter on a row, reached by Tab, does what a double-click does.
        for (int i = 0; i < 5 && QApplication::focusWidget() != grid; ++i)
            press(Form1, Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), static_cast<QWidget *>(grid));
        auto single = whenShown("Form2", escape);
        press(Form1, Qt::Key_Return);
        QTRY_VERIFY(*single);
        QVERIFY(activate());

        // The grid's menu by its key.
        auto *menu = ui<QMenu>(Form1, "GridMenu");
        press(Form1, Qt::Key_F10, Qt::ShiftModifier);
        QTRY_VERIFY(menu->isVisible());
        QTest::keyClick(menu, Qt::Key_Escape);
        QTRY_VERIFY(!menu->isVisible());

        AppMessageBox::setNextAnswer(QMessageBox::Ok);
        press(Form1, Qt::Key_F1);
        QCOMPARE(AppMessageBox::shown().size(), 1);
        QCOMPARE(AppMessageBox::shown()[0].title, QStringLiteral("Fehler"));

        QVERIFY(activate());
        QTest::keyClick(Form1, Qt::Key_R, Qt::AltModifier);
        QTRY_COMPARE(grid->Cells(4, 1), QString());
        // A search ends at once here or shows its progress, which Enter stops.
        auto stopped = whenShown("Form3", [](QWidget *dialog) { press(dialog, Qt::Key_Return); });
        QTest::keyClick(Form1, Qt::Key_S, Qt::AltModifier);
        QTRY_COMPARE(logLines().value(0), QStringLiteral("Search..."));
    }

    void dialogsTabAsShownAndEnterSets()
    {
        QStringList options;
        auto set = whenShown("frm_Configuration", [&options](QWidget *dialog) {
            options = tabChain(dialog, 8);
            QTest::keyClick(dialog->focusWidget(), Qt::Key_A, Qt::ControlModifier);
            QTest::keyClicks(dialog->focusWidget(), QStringLiteral("1500"));
            AppMessageBox::setNextAnswer(QMessageBox::Ok); // should the number be refused
            press(dialog, Qt::Key_Return);
        });
        QTest::keyClick(Form1, Qt::Key_O, Qt::AltModifier);
        QTRY_VERIFY(*set);
        QVERIFY(activate());
        QCOMPARE(options, QStringList({"edit_TimeOut", "edit_WishNumber", "UpDown1", "cbox_Adapter",
                                       "chk_SearchAgain", "btnSet", "Button1", "edit_TimeOut"}));
        // Tab has gone round to the number, which Enter then sets.
        QCOMPARE(Form1->SearchNumber, 1500);

        QStringList buttons;
        auto autoSet = whenShown("frm_AutoSet", [&buttons](QWidget *dialog) {
            for (const QString &name : tabChain(dialog, 19))
                if (qobject_cast<QPushButton *>(dialog->findChild<QWidget *>(name)))
                    buttons << name;
            press(dialog, Qt::Key_Escape);
        });
        QTest::keyClick(Form1, Qt::Key_M, Qt::ControlModifier);
        QTRY_VERIFY(*autoSet);
        QCOMPARE(buttons, QStringList({"btnSelectAll", "btnInverse", "btnReset", "btnSearch", "btnIPSetectAll",
                                       "btnIPInverse", "btnIPReset", "btnSet", "btnCancel"}));
        // Enter in a field of the batch dialog searches addresses: only a
        // deliberate press of Set, focused or clicked, starts the batch.
        QVERIFY(ui<QPushButton>(frm_AutoSet, "btnSearch")->isDefault());
        QVERIFY(!ui<QPushButton>(frm_AutoSet, "btnSet")->isDefault());

        // Enter in a field of the single dialog is Set, as in the others.
        QVERIFY(ui<QPushButton>(Form2, "Button1")->isDefault());
    }

    // The tool bar's blue and the single dialog's field colours where they
    // read, and the scheme's own colours where not, followed at run time.
    void ownColoursStayReadable()
    {
        QToolButton *search = ui<QToolButton>(Form1, "ToolButton3");
        auto *field = ui<QLineEdit>(Form2, "Edit4");
        field->setText(QStringLiteral("198.18.0.5"));
        QCOMPARE(search->palette().color(QPalette::ButtonText), QColor(0, 0, 255));
        QCOMPARE(field->palette().color(QPalette::Base), QColor(216, 213, 249));

        const QPalette schemes[] = {
            scheme(QColor(53, 53, 53), Qt::white, QColor(35, 35, 35), QColor(80, 80, 80)),
            scheme(Qt::black, Qt::white, Qt::black, Qt::white),
            scheme(Qt::white, Qt::black, Qt::white, Qt::white),
        };
        for (const QPalette &desktop : schemes) {
            QApplication::setPalette(desktop);
            const QString which = desktop.color(QPalette::Window).name();
            QTRY_VERIFY2(contrast::ratio(search->palette().color(QPalette::ButtonText),
                                         Form1->palette().color(QPalette::Window))
                             >= contrast::kReadable,
                         qPrintable(which));
            const QRect caption(0, search->height() - 18, search->width(), 16);
            QVERIFY2(shownContrast(search, caption) >= contrast::kReadable, qPrintable(which));
            QVERIFY2(shownContrast(field, field->rect().adjusted(3, 3, -3, -3)) >= contrast::kReadable,
                     qPrintable(which));
        }
    }

private:
    QPalette m_palette;
};

QTEST_MAIN(KeyboardTest)
#include "keyboard_test.moc"
