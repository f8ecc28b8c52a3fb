#pragma once

#include <QWidget>

class QTextBrowser;

namespace corvane::desktop {

// A window showing one of the application's own HTML documents ("What's
// New", the help). Links open in the desktop's browser, never inside.
class DocumentWindow : public QWidget
{
    Q_OBJECT
public:
    DocumentWindow(const QString &title, const QString &resource, QWidget *parent = nullptr);

    // Shows the document at 102 % of the normal text size, in front.
    void present(bool floating);

    QString documentText() const;

private:
    QTextBrowser *m_browser;
};

} // namespace corvane::desktop
