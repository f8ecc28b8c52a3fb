#pragma once

#include "predicate.h"
#include "record.h"

#include <optional>

namespace corvane {

class DataItem;

// A highlight word or phrase.
class Keyword : public Record
{
public:
    static constexpr Entity kEntity = Entity::Keyword;
    static constexpr int kKind = 0;
    enum Attribute { Name, Position, Clock };

    Keyword(Context *context, ObjectID id);

    QString name() const { return stringValue(Name); }
    void setName(const QString &name) { setValue(Name, name); }
    bool isEmpty() const { return name().isEmpty(); }
    float position() const { return float(doubleValue(Position)); }
    void setPosition(float position) { setValue(Position, double(position)); }
    qint64 clock() const { return integerValue(Clock); }
    void setClock(qint64 clock) { setValue(Clock, clock); }

    // The match predicate, built from the name on first use and kept for the
    // life of this object.
    const Predicate &predicate() const;
    // The items of the context that match.
    QList<DataItem *> items() const;

    void updateTimestamp();
    void deleteObjectByUser();

    // Recomputes the marks of the items of the context (those that can change).
    static void updateMarkInContext(Context *context);

    void willSave() override;

private:
    mutable std::optional<Predicate> m_predicate;
};

} // namespace corvane
