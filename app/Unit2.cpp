#include "Unit2.h"

#include "AppMessageBox.h"
#include "Contrast.h"
#include "FormUtils.h"
#include "HostServices.h"
#include "ModuleTable.h"

#include <QApplication>
#include <QLineEdit>
#include <QShowEvent>
#include <QStringList>
#include <QTimer>

#include <cstdint>
#include <cstdlib>
#include <utility>

#include "client/Rules.h"
#include "platform/HostNetwork.h"

namespace {

// Field backgrounds: the module's identity on the system colour of inactive
// caption text (standard scheme), its settings on a pale violet.
const QColor kIdentityColour(212, 208, 200);
const QColor kSettingsColour(216, 213, 249);

const QString kNoAddress = QStringLiteral("0.0.0.0");

// How long one step of the probe may wait for echo replies before the
// windows get their events again.
constexpr int kProbeStepMs = 20;

} // namespace

TForm2::TForm2(QWidget *parent, const ModuleTable &modules, THostServices &services)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint),
      m_modules(modules), m_services(services)
{
    setupUi(this);
    applyDesignFont(this);
    autoSizeLabels(this);
    setClientSize(this, 439, 287);

    // On a dark scheme the fields' own text would be unreadable on these.
    contrast::followPalette(this, [this] {
        for (QLineEdit *edit : {Edit1, Edit7})
            contrast::setReadable(edit, QPalette::Base, kIdentityColour, palette(), {QPalette::Text});
        for (QLineEdit *edit : {Edit4, Edit5, Edit6, Edit2, editDHCP})
            contrast::setReadable(edit, QPalette::Base, kSettingsColour, palette(), {QPalette::Text});
    });
    // A module holds no longer alias.
    Edit11->setMaxLength(int(zclient::kAliasLength));

    connect(Button1, &QPushButton::clicked, this, &TForm2::Button1Click);
    connect(Button2, &QPushButton::clicked, this, [this] { done(mrCancel); });
    connect(Button3, &QPushButton::clicked, this, &TForm2::Button3Click);
    connect(Button4, &QPushButton::clicked, this, &TForm2::Button4Click);
    // Toggled, not clicked: checking a button from the code must update
    // Edit3 as a click does.
    connect(rbtnEnable, &QRadioButton::toggled, this, &TForm2::rbtnEnableClick);
    connect(rbtnDisable, &QRadioButton::toggled, this, &TForm2::rbtnDisableClick);
}

TForm2::~TForm2() = default;

TForm2::Settings TForm2::Chosen() const
{
    return {Tag + 1, Edit2->text(), Edit3->text(), Edit4->text(), Edit5->text(), Edit6->text(), Edit7->text()};
}

QLineEdit *TForm2::NumberedEdit(int n) const
{
    const QString name = n <= 7 ? QString::asprintf("Edit%01d", n) : QString::asprintf("Edit%d", n);
    return findChild<QLineEdit *>(name);
}

void TForm2::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    if (!event->spontaneous())
        FormShow();
}

void TForm2::FormShow()
{
    CreateTabSheet();
    const THostServices::AdapterItems host = m_services.ReadHostAdapterItems();
    Edit8->setText(host.result == 0 ? host.address : kNoAddress);
    Edit9->setText(host.result == 0 ? host.mask : kNoAddress);
    Edit10->setText(host.result == 0 ? host.gateway : kNoAddress);
    // The probe runs once the dialog is up, so that the operator sees it
    // working; Set waits for its result.
    requestProbe();
    QTimer::singleShot(0, this, &TForm2::runAddressProbe);
}

void TForm2::CreateTabSheet()
{
    const int row = Tag + 1;
    GroupBox1->setTitle(QStringLiteral("Original Settings"));
    for (int n = 1; n <= 7; ++n) {
        QLineEdit *field = NumberedEdit(n);
        if (n == 3) {
            // Edit3 follows the radio buttons; the read-only text is separate.
            if (m_modules.ModuleCell(3, row) == QStringLiteral("Enable")) {
                editDHCP->setText(QStringLiteral("Enabled"));
                rbtnEnable->setChecked(true);
            } else {
                editDHCP->setText(QStringLiteral("Disabled"));
                rbtnDisable->setChecked(true);
            }
            continue;
        }
        field->setText(m_modules.ModuleCell(n, row));
        if (n == 2)
            Edit11->setText(m_modules.ModuleCell(n, row));
    }
    CheckButton();
}

void TForm2::CheckButton()
{
    const int count = m_modules.ModuleCount();
    if (count < 2) {
        Button3->setEnabled(false);
        Button4->setEnabled(false);
    } else if (Tag == 0) {
        Button3->setEnabled(false);
        Button4->setEnabled(true);
    } else if (Tag + 1 == count) {
        Button3->setEnabled(true);
        Button4->setEnabled(false);
    } else {
        Button3->setEnabled(true);
        Button4->setEnabled(true);
    }
}

void TForm2::Button1Click()
{
    Edit4->setText(Edit8->text());
    Edit5->setText(Edit9->text());
    Edit6->setText(Edit10->text());
    Edit2->setText(Edit11->text());

    // Text that would add pieces to the request is refused first.
    bool usable = true;
    for (QLineEdit *edit : {Edit4, Edit5, Edit6, Edit2}) {
        if (!THostServices::IsSendableText(edit->text())) {
            AppMessageBox::error(this, THostServices::UnsendableTextMessage(edit->text()));
            usable = false;
        }
    }
    if (!usable)
        return;

    static const char *const messages[] = {"'%1' is a not valid IP address.", "'%1' is a not valid MASK.",
                                           "'%1' is a not valid Gateway."};
    std::optional<THostServices::HostSettings> host; // read once, when a field is empty
    bool reasonShown = false;
    for (int n = 4; n <= 6; ++n) {
        QLineEdit *field = NumberedEdit(n);
        const QString text = field->text();
        if (THostServices::IsValidAddressText(text)) {
            // The form the check read: "198.18.000.077" goes out as the
            // 198.18.0.63 it stands for, not as typed.
            field->setText(THostServices::CanonicalAddressText(text));
            continue;
        }
        usable = false;
        if (text == kNoAddress && !m_noAddressReason.isEmpty()) {
            // The probe's placeholders: their one reason, once, not a box each.
            if (!reasonShown)
                AppMessageBox::error(this, m_noAddressReason);
            reasonShown = true;
            continue;
        }
        QString message = QString::fromLatin1(messages[n - 4]).arg(text);
        if (text.isEmpty()) {
            // Empty where the PC had nothing to propose: say what it lacks.
            if (!host)
                host = m_services.ReadHostSettings();
            const bool lacking = n == 6 ? !host->problem.isEmpty() : host->problem == THostServices::NoHostAddressMessage();
            message = lacking ? host->problem : QStringLiteral("Invalid numeric entry.");
        }
        AppMessageBox::error(this, message);
    }
    if (usable)
        done(mrOk);
}

void TForm2::Button3Click()
{
    --Tag;
    CreateTabSheet();
}

void TForm2::Button4Click()
{
    ++Tag;
    CreateTabSheet();
}

void TForm2::rbtnEnableClick()
{
    Edit3->setText(rbtnEnable->isChecked() ? QStringLiteral("Enable") : QStringLiteral("Disable"));
}

void TForm2::rbtnDisableClick()
{
    Edit3->setText(rbtnDisable->isChecked() ? QStringLiteral("Disable") : QStringLiteral("Enable"));
}

void TForm2::done(int result)
{
    ++m_probeToken;
    m_probeWanted = false;
    if (!m_probeRunning)
        setProbing(false);
    QDialog::done(result);
}

void TForm2::reject()
{
    // The close box and Escape end the dialog as Cancel does.
    done(mrCancel);
}

bool TForm2::AddressProbeRunning() const
{
    return m_probeWanted || m_probeRunning;
}

void TForm2::SearchRecommendedAddress()
{
    requestProbe();
    runAddressProbe();
}

void TForm2::requestProbe()
{
    ++m_probeToken; // a probe still running for an earlier request gives up
    m_probeWanted = true;
    setProbing(true);
}

void TForm2::runAddressProbe()
{
    // Events are processed while the probe runs, so a new request may
    // arrive meanwhile; the probe on the stack takes it over rather than
    // nesting a second one.
    if (m_probeRunning)
        return;
    m_probeRunning = true;
    QApplication::setOverrideCursor(Qt::WaitCursor);
    while (m_probeWanted) {
        m_probeWanted = false;
        const quint64 token = m_probeToken;
        const std::optional<QString> found = probeFreeAddress(token);
        if (token != m_probeToken)
            continue; // abandoned
        if (found) {
            m_noAddressReason.clear();
            Edit8->setText(*found);
        } else {
            Edit8->setText(kNoAddress);
            Edit9->setText(kNoAddress);
            Edit10->setText(kNoAddress);
        }
    }
    QApplication::restoreOverrideCursor();
    m_probeRunning = false;
    setProbing(false);
}

std::optional<QString> TForm2::probeFreeAddress(quint64 token)
{
    // The host's address split at the dots. Without four parts (an adapter
    // whose address could not be read) there is nothing to count from, and
    // parts outside an octet name no address of the host's subnet.
    m_noAddressReason = QStringLiteral("No free address could be proposed. Enter the settings by hand.");
    const QStringList parts = Edit8->text().split(QLatin1Char('.'));
    if (parts.size() < 4)
        return std::nullopt;
    std::uint32_t host = 0;
    for (int i = 0; i < 4; ++i) {
        // Read as a leading decimal integer, as the address was shown:
        // leading blanks and a sign allowed, no digits give 0.
        const long octet = std::strtol(parts[i].toLatin1().constData(), nullptr, 10);
        if (octet < 0 || octet > 255)
            return std::nullopt;
        host = host << 8 | static_cast<std::uint32_t>(octet);
    }

    // The host's last octet + 1 up to .253, first silent one wins; the
    // addresses of the modules just found, and those given to modules since,
    // are in use without asking them.
    // Within the host's subnet as far as its mask tells, never its network
    // or broadcast address, the host or its gateway.
    const auto number = [](const QLineEdit *edit) {
        return THostServices::IsValidAddressText(edit->text()) ? hostnet::AddressFromText(edit->text().toLatin1().toStdString())
                                                       : std::uint32_t{0};
    };
    hostnet::FreeAddressSearch search = hostnet::HostSubnetSearch(host, number(Edit9), number(Edit10));
    search.inUse.merge(m_services.AddressesInUse());
    hostnet::FreeAddressWalk walk(std::move(search));
    if (walk.echoUnusable())
        m_services.ReportEchoUnusable();
    else if (walk.neighbourTableOnly())
        m_services.ReportNeighbourTableOnly();
    if (walk.echoUnusable() || walk.neighbourTableOnly())
        m_noAddressReason = QStringLiteral("No free address could be proposed: ping not permitted. "
                                           "Enter the settings by hand.");
    while (!walk.finished()) {
        walk.pump(kProbeStepMs);
        QCoreApplication::processEvents();
        if (token != m_probeToken) {
            walk.cancel();
            return std::nullopt;
        }
    }
    if (walk.found().empty())
        return std::nullopt;
    return QString::fromStdString(hostnet::AddressToText(walk.found().front()));
}

void TForm2::setProbing(bool probing)
{
    // The recommended addresses are the probe's to fill until it is done.
    Button1->setEnabled(!probing);
    for (QLineEdit *edit : {Edit8, Edit9, Edit10})
        edit->setReadOnly(probing);
}
