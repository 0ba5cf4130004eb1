// Single-module configuration dialog: the chosen module's settings beside the
// recommended ones (the host's mask and gateway, and the first address above
// the host's own that nobody answers on).
#pragma once

#include <QDialog>

#include <optional>

#include "ui_Unit2.h"

class ModuleTable;
class QLineEdit;
class THostServices;

class TForm2 : public QDialog, private Ui::TForm2
{
    Q_OBJECT

public:
    TForm2(QWidget *parent, const ModuleTable &modules, THostServices &services);
    ~TForm2() override;

    // What the operator chose, as the fields show it after OK: the module's
    // number and its new alias, DHCP ("Enable" or "Disable"), IP, mask,
    // gateway and MAC texts (addresses in their checked, dotted form).
    struct Settings
    {
        int number = 0;
        QString alias;
        QString dhcp;
        QString ip;
        QString mask;
        QString gateway;
        QString mac;
    };
    Settings Chosen() const;

    // Zero-based index of the module shown: its grid row and its module
    // number are Tag + 1.
    int Tag = 0;

    // The numbered fields: "Edit%01d" for 1 to 7, "Edit%d" for the
    // recommended 8 to 10.
    QLineEdit *NumberedEdit(int n) const;

    // Event handlers and the operations they share.
    void FormShow();
    void CreateTabSheet();
    void CheckButton();
    void Button1Click();
    void Button3Click();
    void Button4Click();
    void rbtnEnableClick();
    void rbtnDisableClick();

    // The free-address probe of FormShow on its own: proposes the first
    // address after the one in Edit8 that nobody answers on. Returns once it
    // has finished, keeping the windows responsive meanwhile; called while a
    // probe runs, it makes that probe start over instead.
    void SearchRecommendedAddress();
    // True from a showing until its probe has finished or been abandoned.
    bool AddressProbeRunning() const;

    // Every way of closing abandons a running probe.
    void done(int result) override;
    void reject() override;

protected:
    void showEvent(QShowEvent *event) override;

private:
    void requestProbe();
    void runAddressProbe();
    std::optional<QString> probeFreeAddress(quint64 token);
    void setProbing(bool probing);

    const ModuleTable &m_modules;
    THostServices &m_services;

    // A probe gives up as soon as this differs from the value it started
    // with: a new showing or a close makes its result meaningless.
    quint64 m_probeToken = 0;
    bool m_probeWanted = false;
    bool m_probeRunning = false;
    // Why the probe left "0.0.0.0" in the proposals; empty when it did not.
    QString m_noAddressReason;
};
