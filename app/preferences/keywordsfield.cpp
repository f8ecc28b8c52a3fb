#include "keywordsfield.h"

#include "base/dispatch.h"
#include "store/context.h"
#include "store/keyword.h"
#include "store/keywordhelper.h"
#include "store/query.h"
#include "store/storemanager.h"

namespace corvane::desktop {

KeywordsField::KeywordsField(Context *mainContext, QWidget *parent)
    : QPlainTextEdit(parent)
    , m_context(mainContext)
{
    setTabChangesFocus(true);
    setPlaceholderText(tr("One keyword a line"));
    m_pause.setSingleShot(true);
    m_pause.setInterval(1500);
    connect(&m_pause, &QTimer::timeout, this, &KeywordsField::keywordsChanged);
    connect(this, &QPlainTextEdit::textChanged, this, [this] {
        if (hasFocus())
            m_pause.start();
    });
    std::weak_ptr<int> alive = m_alive;
    m_fromCloud = ScopedObserver(NotificationCenter::defaultCenter(), kKeywordChangeFromCloudNotification, nullptr,
                                 [this, alive](const Notification &) {
                                     dispatch::main().async([this, alive] {
                                         if (!alive.expired())
                                             initKeywords();
                                     });
                                 });
    initKeywords();
}

KeywordsField::~KeywordsField() = default;

QStringList KeywordsField::getKeywords() const
{
    QStringList names;
    for (const Keyword *keyword :
         m_context->fetchAs<Keyword>(Query{Entity::Keyword, Predicate(), {{QStringLiteral("position"), true}}}))
        if (!keyword->isDeleted())
            names.append(keyword->name());
    return names;
}

bool KeywordsField::setKeywords(const QStringList &names)
{
    return KeywordHelper::insertKeywords(names, m_context, false);
}

QStringList KeywordsField::value() const
{
    QStringList names;
    for (const QString &line : toPlainText().split(u'\n')) {
        const QString name = line.trimmed();
        if (KeywordHelper::isUsableName(name) && !names.contains(name))
            names.append(name);
    }
    return names;
}

void KeywordsField::keywordsChanged()
{
    m_pause.stop();
    const QStringList names = value();
    if (names != getKeywords())
        setKeywords(names);
}

void KeywordsField::initKeywords()
{
    std::weak_ptr<int> alive = m_alive;
    dispatch::main().async([this, alive] {
        if (alive.expired())
            return;
        const QStringList stored = getKeywords();
        if (stored != value())
            setPlainText(stored.join(u'\n'));
    });
}

void KeywordsField::focusOutEvent(QFocusEvent *event)
{
    keywordsChanged();
    QPlainTextEdit::focusOutEvent(event);
}

} // namespace corvane::desktop
