#include "pocketaccountrow.h"

#include "sharing/pocket.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>

namespace corvane::desktop {

PocketAccountRow::PocketAccountRow(Pocket *pocket, QWidget *parent)
    : QWidget(parent)
    , m_pocket(pocket)
    , m_status(new QLabel)
    , m_button(new QPushButton)
{
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_button);
    layout->addWidget(m_status, 1);
    if (!m_pocket) {
        m_button->hide();
        m_status->setText(tr("Pocket is not available in this build."));
        return;
    }
    connect(m_button, &QPushButton::clicked, this, [this] {
        if (m_pocket->loginState() == Pocket::LoggedIn)
            m_pocket->logOut();
        else if (m_pocket->loginState() == Pocket::LoggedOut)
            m_pocket->logIn();
    });
    connect(m_pocket, &Pocket::loginStateChanged, this, &PocketAccountRow::update);
    connect(m_pocket, &Pocket::loginFailed, this, [this](const QString &error) {
        m_status->setText(tr("Login failed: %1").arg(error));
    });
    update(m_pocket->loginState());
}

QString PocketAccountRow::statusText() const
{
    return m_status->text();
}

void PocketAccountRow::update(int state)
{
    switch (state) {
    case Pocket::LoggedIn:
        m_button->setText(tr("Log Out"));
        m_button->setEnabled(true);
        m_status->setText(m_pocket->loginLabel());
        break;
    case Pocket::LoggingIn:
        m_button->setText(tr("Log In"));
        m_button->setEnabled(false);
        m_status->setText(tr("Logging in… finish in your browser."));
        break;
    default:
        m_button->setText(tr("Log In"));
        m_button->setEnabled(true);
        m_status->setText(tr("Starred items are saved to Pocket once you log in."));
        break;
    }
}

} // namespace corvane::desktop
