#pragma once

#include "base/notificationcenter.h"

#include <QPlainTextEdit>
#include <QStringList>
#include <QTimer>

#include <memory>

namespace corvane {
class Context;
}

namespace corvane::desktop {

// The keyword list as text, one keyword per line. Edits are stored when
// the field loses the focus or the typing pauses; keywords that arrive from
// the cloud are shown once the main queue gets to them.
class KeywordsField : public QPlainTextEdit
{
    Q_OBJECT
public:
    explicit KeywordsField(Context *mainContext, QWidget *parent = nullptr);
    ~KeywordsField() override;

    // The stored keywords, by position.
    QStringList getKeywords() const;
    // Makes the stored keywords these (kept stamps, nothing cleared).
    bool setKeywords(const QStringList &names);
    // The field's keywords: one a line, trimmed, blank lines and repeats left out.
    QStringList value() const;
    // Stores the field's keywords when they differ from the stored ones.
    void keywordsChanged();
    // On the main queue: shows the stored keywords when the field shows others.
    void initKeywords();

protected:
    void focusOutEvent(QFocusEvent *event) override;

private:
    Context *m_context;
    QTimer m_pause;
    ScopedObserver m_fromCloud;
    std::shared_ptr<int> m_alive = std::make_shared<int>(0);
};

} // namespace corvane::desktop
