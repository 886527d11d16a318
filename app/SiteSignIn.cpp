#include "SiteSignIn.h"

#include <QDialog>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

bool askSiteSignIn(QWidget* parent, const QString& host, const QString& realm, bool proxy, bool keptInStep,
                   QString& user, QString& password)
{
    QDialog dialog(parent);
    dialog.setObjectName(QStringLiteral("siteSignIn"));
    dialog.setWindowTitle(QStringLiteral("Sign in"));
    auto* layout = new QVBoxLayout(&dialog);
    QString text = proxy ? QStringLiteral("The proxy %1 asks for a user name and password.").arg(host)
                         : QStringLiteral("%1 asks for a user name and password.").arg(host);
    if (!realm.isEmpty())
        text += QStringLiteral("\nThe site says: %1").arg(realm);
    auto* message = new QLabel(text);
    message->setTextFormat(Qt::PlainText); // the realm is the site's text, not markup
    message->setWordWrap(true);
    layout->addWidget(message);
    auto* form = new QFormLayout;
    auto* userEdit = new QLineEdit(user);
    userEdit->setObjectName(QStringLiteral("user"));
    auto* passwordEdit = new QLineEdit(password);
    passwordEdit->setObjectName(QStringLiteral("password"));
    passwordEdit->setEchoMode(QLineEdit::Password);
    form->addRow(QStringLiteral("&User name:"), userEdit);
    form->addRow(QStringLiteral("&Password:"), passwordEdit);
    layout->addLayout(form);
    if (keptInStep) {
        auto* note = new QLabel(QStringLiteral("The recorded step keeps them for the monitor."));
        note->setWordWrap(true);
        layout->addWidget(note);
    }
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    layout->addWidget(buttons);
    userEdit->setFocus();
    // The normal pointer over the box, even while a page load shows the busy one.
    QGuiApplication::setOverrideCursor(Qt::ArrowCursor);
    const bool accepted = dialog.exec() == QDialog::Accepted;
    QGuiApplication::restoreOverrideCursor();
    if (!accepted)
        return false;
    user = userEdit->text();
    password = passwordEdit->text();
    return true;
}
