#pragma once

#include "record.h"

#include <QList>
#include <QStringList>

namespace corvane {

class Datasource;

// A folder of subscriptions.
class Category : public Record
{
public:
    static constexpr Entity kEntity = Entity::Category;
    static constexpr int kKind = 0;
    enum Attribute { Name, Position, Uuid, Clock, Open, Sidebar };

    Category(Context *context, ObjectID id);

    // The built-in category names, whose uuid is the MD5 of the name so that
    // the same default category matches on every machine.
    static const QStringList &defaultNames();
    static QString uuidForDefaultName(const QString &name);

    QString name() const { return stringValue(Name); }
    void setName(const QString &name) { setValue(Name, name); }
    double position() const { return doubleValue(Position); }
    void setPosition(double position) { setValue(Position, position); }
    QString uuid() const { return stringValue(Uuid); }
    void setUuid(const QString &uuid) { setValue(Uuid, uuid); }
    qint64 clock() const { return integerValue(Clock); }
    void setClock(qint64 clock) { setValue(Clock, clock); }
    bool isOpen() const { return boolValue(Open); }
    void setOpen(bool open) { setValue(Open, open); }
    bool sidebar() const { return boolValue(Sidebar); }
    void setSidebar(bool sidebar) { setValue(Sidebar, sidebar); }

    // The subscriptions filed here that still exist, in position order.
    QList<Datasource *> datasources() const;

    // 0: none enabled (or no subscriptions, or the record is gone); 1: all; -1: some.
    int enabledButtonState() const;
    bool isEnabled() const { return enabledButtonState() != 0; }

    void setupUuid();
    void updateTimestamp();
    void deleteObjectByUser();

    // The largest position of all categories in the context, as a float; 0 without any.
    static float maxPositionFromContext(Context *context);

    void willSave() override;
};

} // namespace corvane
