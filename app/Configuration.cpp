#include "Configuration.h"

#include "AppMessageBox.h"
#include "FormUtils.h"
#include "Options.h"

#include <QShowEvent>

#include "platform/HostNetwork.h"

#include <charconv>
#include <optional>

namespace {

QString notAnIntegerMessage(const QString &text)
{
    return QStringLiteral("'%1' is not a valid integer value.").arg(text);
}

} // namespace

Tfrm_Configuration::Tfrm_Configuration(QWidget *parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint)
{
    setupUi(this);
    applyDesignFont(this);
    autoSizeLabels(this);
    // Two rows taller than the two options needed: the adapter choice and
    // the search after setting.
    setClientSize(this, 280, 263);
    move(380, 116);

    connect(btnSet, &QPushButton::clicked, this, &Tfrm_Configuration::btnSetClick);
    connect(Button1, &QPushButton::clicked, this, [this] { done(mrCancel); });
}

Tfrm_Configuration::~Tfrm_Configuration() = default;

void Tfrm_Configuration::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    if (!event->spontaneous())
        FormShow();
}

void Tfrm_Configuration::FormShow()
{
    UpDown1->SetRange(0, 100);
    UpDown1->SetIncrement(1);
    UpDown1->SetAssociate(edit_WishNumber);
    edit_WishNumber->setText(QString::number(m_values.number));
    edit_TimeOut->setText(QString::number(m_values.timeOut));
    FillAdapterList(m_values.adapter);
    chk_SearchAgain->setChecked(m_values.searchAgain);
    Label4->setText(QStringLiteral("Please enter the time in milliseconds that Dalvora should wait for the "
                                   "search to end, and \nthe number of search results."));
}

void Tfrm_Configuration::FillAdapterList(const QString &chosen)
{
    cbox_Adapter->clear();
    cbox_Adapter->addItem(QStringLiteral("First adapter"), QString());
    for (const hostnet::HostAdapter &a : hostnet::ListHostAdapters())
        cbox_Adapter->addItem(QStringLiteral("%1, %2").arg(QString::fromStdString(a.label),
                                                           QString::fromStdString(hostnet::AddressToText(a.address))),
                              QString::fromStdString(a.id));
    const int at = cbox_Adapter->findData(chosen);
    cbox_Adapter->setCurrentIndex(at < 0 ? 0 : at);
}

// Digits only, as checked before; the signed 32-bit range is all that is
// left to fail.
std::optional<int32_t> Tfrm_Configuration::DigitsToInt32(const QString &digits)
{
    const QByteArray bytes = digits.toLatin1();
    int32_t value = 0;
    const auto [end, ec] = std::from_chars(bytes.constData(), bytes.constData() + bytes.size(), value);
    if (ec != std::errc() || end != bytes.constData() + bytes.size())
        return std::nullopt;
    return value;
}

int Tfrm_Configuration::CheckNumericText(const QString &text)
{
    if (text.isEmpty())
        return 1;
    for (const QChar c : text) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return 2;
    }
    return 0;
}

void Tfrm_Configuration::btnSetClick()
{
    // One message at a time, the count first; the operator's text stays.
    for (QLineEdit *edit : {edit_WishNumber, edit_TimeOut}) {
        switch (CheckNumericText(edit->text())) {
        case 1:
            AppMessageBox::error(this, QStringLiteral("Invalid numeric entry."));
            return;
        case 2:
            AppMessageBox::error(this, notAnIntegerMessage(edit->text()));
            return;
        default:
            break;
        }
    }

    // Both convert before either is kept, so a failing time-out does not
    // leave a new count behind.
    const std::optional<int32_t> number = DigitsToInt32(edit_WishNumber->text());
    if (!number) {
        AppMessageBox::error(this, notAnIntegerMessage(edit_WishNumber->text()));
        return;
    }
    const std::optional<int32_t> timeOut = DigitsToInt32(edit_TimeOut->text());
    if (!timeOut) {
        AppMessageBox::error(this, notAnIntegerMessage(edit_TimeOut->text()));
        return;
    }

    // The values are in force for this run whatever becomes of the file.
    m_values = {*number, static_cast<uint32_t>(*timeOut), cbox_Adapter->currentData().toString(),
                chk_SearchAgain->isChecked()};
    ReportWhereSaved(options::write(m_values));
    done(mrOk);
}

void Tfrm_Configuration::ReportWhereSaved(const options::WriteResult &saved)
{
    switch (saved.where) {
    case options::WriteResult::BesideProgram:
        return; // where the operator expects them: nothing to say
    case options::WriteResult::UserFolder: {
        if (saved.systemFolder)
            return; // an installed program's options belong there
        QString text = QStringLiteral("The options were saved in '%1'.").arg(saved.path);
        if (!saved.programReason.isEmpty())
            text += QStringLiteral("\nThey cannot be saved in '%1': %2.").arg(options::filePath(), saved.programReason);
        AppMessageBox::show(this, QStringLiteral("Information"), text, QMessageBox::Information);
        return;
    }
    case options::WriteResult::Nowhere: {
        QString text = QStringLiteral("The options could not be saved.");
        if (!saved.programReason.isEmpty())
            text += QStringLiteral("\n'%1': %2.").arg(options::filePath(), saved.programReason);
        text += QStringLiteral("\n'%1': %2.").arg(options::userFilePath(), saved.userReason);
        text += QStringLiteral("\nThey apply until the program ends.");
        AppMessageBox::show(this, QStringLiteral("Warning"), text, QMessageBox::Warning);
        return;
    }
    }
}
