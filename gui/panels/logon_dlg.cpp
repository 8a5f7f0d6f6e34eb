#include "gui/panels/logon_dlg.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QVBoxLayout>
#include <QValidator>

#include "app/qm_app.h"

namespace qm {
namespace {

// Refuses typing that would take the password past its 8 GBK bytes.
class PasswordLimit final : public QValidator {
  public:
    using QValidator::QValidator;
    State validate(QString& input, int&) const override {
        return LogonForm::PasswordFits(input.toStdString()) ? Acceptable : Invalid;
    }
};

QPushButton* PlainButton(const char* text, QWidget* parent) {
    auto* button = new QPushButton(QString::fromUtf8(text), parent);
    button->setAutoDefault(false);
    button->setDefault(false);
    return button;
}

}  // namespace

CLogonDlg::CLogonDlg(const SiteContext& site, QWidget* parent)
    : QDialog(parent),
      rules_(site),
      name_(new QLineEdit(this)),
      password_(new QLineEdit(this)),
      ok_(PlainButton("确定", this)),
      cancel_(PlainButton("取消", this)) {
    setWindowTitle(QString::fromUtf8("登陆"));
    setFixedSize(333, 218);
    password_->setEchoMode(QLineEdit::Password);
    password_->setValidator(new PasswordLimit(password_));

    auto* fields = new QGridLayout;
    fields->addWidget(new QLabel(QString::fromUtf8("用户名"), this), 0, 0);
    fields->addWidget(name_, 0, 1);
    fields->addWidget(new QLabel(QString::fromUtf8("密码"), this), 1, 0);
    fields->addWidget(password_, 1, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(ok_);
    buttons->addStretch();
    buttons->addWidget(cancel_);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(36, 24, 36, 24);
    layout->addStretch();
    layout->addLayout(fields);
    layout->addStretch();
    layout->addLayout(buttons);

    connect(name_, &QLineEdit::returnPressed, password_, [this] { password_->setFocus(); });
    connect(password_, &QLineEdit::returnPressed, this, &CLogonDlg::Confirm);
    connect(ok_, &QPushButton::clicked, this, &CLogonDlg::Confirm);
    connect(cancel_, &QPushButton::clicked, this, &CLogonDlg::reject);
}

void CLogonDlg::OkAction() {
    if (focusWidget() == name_) {
        password_->setFocus();
        return;
    }
    if (focusWidget() == password_)
        Confirm();
}

void CLogonDlg::Confirm() {
    const LogonForm::Outcome outcome =
        rules_.Confirm(name_->text().toStdString(), password_->text().toStdString());
    if (outcome == LogonForm::Outcome::kNameTooLong)
        QMessageBox::warning(this, QString::fromUtf8(kAppTitle),
                             QString::fromUtf8(kLogonNameWarning));
    if (outcome == LogonForm::Outcome::kNotWritten)
        return;
    ShowForm();
    if (outcome == LogonForm::Outcome::kWritten)
        accept();
}

void CLogonDlg::reject() {
    rules_.Cancel();
    ShowForm();
    QDialog::reject();
}

void CLogonDlg::ShowForm() {
    name_->setText(QString::fromStdString(rules_.Name()));
    password_->setText(QString::fromStdString(rules_.Password()));
    name_->setFocus();
}

}  // namespace qm
