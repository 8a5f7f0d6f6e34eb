// The operator logon dialog "登陆": user name and masked password, written
// to TXT/DL.txt for the back-end to verify. The rules are LogonForm's.
//
// Enter in the name field moves to the password field; Enter in the password
// field confirms. Neither button is the default, so Enter elsewhere does
// nothing. Cancel, Esc and the caption's close write nothing, and the dialog
// opens with empty fields every time.
#pragma once

#include <QDialog>
#include <QLineEdit>
#include <QPushButton>

#include "panels/logon_form.h"

namespace qm {

class CLogonDlg : public QDialog {
    Q_OBJECT

  public:
    CLogonDlg(const SiteContext& site, QWidget* parent);

    // What Enter does: from the name field on to the password field; from
    // the password field the confirm; from anywhere else nothing. The main
    // window asks for it when it closes while the dialog is up.
    void OkAction();
    // Ends the dialog with Cancel, emptying both fields.
    void reject() override;

    QLineEdit* NameField() const { return name_; }
    QLineEdit* PasswordField() const { return password_; }
    QPushButton* OkButton() const { return ok_; }
    QPushButton* CancelButton() const { return cancel_; }

  private:
    void Confirm();
    void ShowForm();

    LogonForm rules_;
    QLineEdit* name_;
    QLineEdit* password_;
    QPushButton* ok_;
    QPushButton* cancel_;
};

}  // namespace qm
