#pragma once

#include <QWidget>

class QLabel;
class QPushButton;

namespace corvane::desktop {

class Pocket;

// The Pocket account in the preferences: "Logged in as <user>" with a log-out
// button, a log-in button while logged out, "Logging in…" while the browser
// login runs. Without a Pocket account object it says Pocket is unavailable.
class PocketAccountRow : public QWidget
{
    Q_OBJECT
public:
    explicit PocketAccountRow(Pocket *pocket, QWidget *parent = nullptr);

    QString statusText() const;
    QPushButton *button() const { return m_button; }

private:
    void update(int state);

    Pocket *m_pocket;
    QLabel *m_status;
    QPushButton *m_button;
};

} // namespace corvane::desktop
