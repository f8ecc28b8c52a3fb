#include "keyedarchivebuilder.h"

#include <QFile>

#include <cstdlib>

namespace corvane::test {

namespace {

constexpr double kSecondsFrom1970To2001 = 978307200.0;

void appendBigEndian(QByteArray &out, quint64 value, int size)
{
    for (int i = size - 1; i >= 0; --i)
        out.append(char((value >> (8 * i)) & 0xFF));
}

// A marker with its count, spilling into an integer object past 14.
QByteArray markerWithCount(quint8 type, quint64 count)
{
    QByteArray out;
    if (count < 15) {
        out.append(char((type << 4) | count));
        return out;
    }
    out.append(char((type << 4) | 0x0F));
    out.append(char(0x13));
    appendBigEndian(out, count, 8);
    return out;
}

} // namespace

KeyedArchiveBuilder::KeyedArchiveBuilder()
{
    m_objects.push_back(plist_new_string("$null"));
}

KeyedArchiveBuilder::~KeyedArchiveBuilder()
{
    for (plist_t node : m_objects)
        if (node)
            plist_free(node);
    for (auto &[key, node] : m_overrides)
        if (node)
            plist_free(node);
}

KeyedArchiveBuilder::Ref KeyedArchiveBuilder::add(plist_t node)
{
    m_objects.push_back(node);
    return m_objects.size() - 1;
}

KeyedArchiveBuilder::Ref KeyedArchiveBuilder::reserve()
{
    return add(nullptr);
}

void KeyedArchiveBuilder::set(Ref slot, plist_t node)
{
    if (m_objects[slot])
        plist_free(m_objects[slot]);
    m_objects[slot] = node;
}

KeyedArchiveBuilder::Ref KeyedArchiveBuilder::string(const QString &text)
{
    return add(plist_new_string(text.toUtf8().constData()));
}

plist_t KeyedArchiveBuilder::instanceOf(const QString &className, const QStringList &superclasses)
{
    plist_t node = plist_new_dict();
    plist_dict_set_item(node, "$class", uid(classRef(className, superclasses)));
    return node;
}

KeyedArchiveBuilder::Ref KeyedArchiveBuilder::mutableString(const QString &text)
{
    plist_t node = instanceOf(QStringLiteral("NSMutableString"), {QStringLiteral("NSString"), QStringLiteral("NSObject")});
    plist_dict_set_item(node, "NS.string", plist_new_string(text.toUtf8().constData()));
    return add(node);
}

KeyedArchiveBuilder::Ref KeyedArchiveBuilder::date(const QDateTime &when)
{
    plist_t node = instanceOf(QStringLiteral("NSDate"));
    plist_dict_set_item(node, "NS.time",
                        plist_new_real(double(when.toMSecsSinceEpoch()) / 1000.0 - kSecondsFrom1970To2001));
    return add(node);
}

KeyedArchiveBuilder::Ref KeyedArchiveBuilder::array(const QList<Ref> &items, const QString &className)
{
    plist_t objects = plist_new_array();
    for (Ref item : items)
        plist_array_append_item(objects, uid(item));
    plist_t node = instanceOf(className);
    plist_dict_set_item(node, "NS.objects", objects);
    return add(node);
}

KeyedArchiveBuilder::Ref KeyedArchiveBuilder::dictionary(const QList<std::pair<QString, Ref>> &entries,
                                                         const QString &className)
{
    plist_t keys = plist_new_array();
    plist_t objects = plist_new_array();
    for (const auto &[key, ref] : entries) {
        plist_array_append_item(keys, uid(string(key)));
        plist_array_append_item(objects, uid(ref));
    }
    plist_t node = instanceOf(className);
    plist_dict_set_item(node, "NS.keys", keys);
    plist_dict_set_item(node, "NS.objects", objects);
    return add(node);
}

KeyedArchiveBuilder::Ref KeyedArchiveBuilder::value(const QVariant &value)
{
    switch (value.typeId()) {
    case QMetaType::QString:
        return string(value.toString());
    case QMetaType::Bool:
        return add(plist_new_bool(value.toBool() ? 1 : 0));
    case QMetaType::Int:
    case QMetaType::LongLong:
        return add(plist_new_uint(quint64(value.toLongLong())));
    case QMetaType::Double:
        return add(plist_new_real(value.toDouble()));
    case QMetaType::QDateTime:
        return date(value.toDateTime());
    case QMetaType::QByteArray:
        return add(plist_new_data(value.toByteArray().constData(), quint64(value.toByteArray().size())));
    case QMetaType::QVariantList: {
        QList<Ref> items;
        for (const QVariant &item : value.toList())
            items.append(this->value(item));
        return array(items);
    }
    case QMetaType::QVariantMap: {
        QList<std::pair<QString, Ref>> entries;
        const QVariantMap map = value.toMap();
        for (auto it = map.cbegin(); it != map.cend(); ++it)
            entries.append({it.key(), this->value(it.value())});
        return dictionary(entries);
    }
    default:
        return kNull;
    }
}

KeyedArchiveBuilder::Ref KeyedArchiveBuilder::classRef(const QString &name, const QStringList &superclasses)
{
    for (const auto &[known, ref] : m_classes)
        if (known == name)
            return ref;
    plist_t classes = plist_new_array();
    plist_array_append_item(classes, plist_new_string(name.toUtf8().constData()));
    for (const QString &super : superclasses)
        plist_array_append_item(classes, plist_new_string(super.toUtf8().constData()));
    plist_t node = plist_new_dict();
    plist_dict_set_item(node, "$classname", plist_new_string(name.toUtf8().constData()));
    plist_dict_set_item(node, "$classes", classes);
    const Ref ref = add(node);
    m_classes.emplace_back(name, ref);
    return ref;
}

KeyedArchiveBuilder::Ref KeyedArchiveBuilder::object(const QString &className,
                                                     const QList<std::pair<QString, plist_t>> &fields,
                                                     const QStringList &superclasses)
{
    plist_t node = instanceOf(className, superclasses);
    for (const auto &[key, field] : fields)
        plist_dict_set_item(node, key.toUtf8().constData(), field);
    return add(node);
}

KeyedArchiveBuilder::Ref KeyedArchiveBuilder::legacyItem(const QVariantMap &properties, bool marked, bool shown,
                                                         bool read, bool hidden)
{
    const Ref props = value(properties);
    return object(QStringLiteral("DataItem"), {{QStringLiteral("$0"), uid(props)},
                                               {QStringLiteral("$1"), plist_new_uint(marked ? 1 : 0)},
                                               {QStringLiteral("$2"), plist_new_uint(shown ? 1 : 0)},
                                               {QStringLiteral("$3"), plist_new_uint(read ? 1 : 0)},
                                               {QStringLiteral("$4"), plist_new_uint(hidden ? 1 : 0)}});
}

void KeyedArchiveBuilder::overrideEntry(const QString &key, plist_t node)
{
    m_overrides.emplace_back(key, node);
}

QByteArray KeyedArchiveBuilder::binary() const
{
    plist_t archive = plist_new_dict();
    plist_dict_set_item(archive, "$version", plist_new_uint(100000));
    plist_dict_set_item(archive, "$archiver", plist_new_string("NSKeyedArchiver"));
    plist_t top = plist_new_dict();
    plist_dict_set_item(top, "root", uid(m_root));
    plist_dict_set_item(archive, "$top", top);
    plist_t objects = plist_new_array();
    for (plist_t node : m_objects)
        plist_array_append_item(objects, node ? plist_copy(node) : plist_new_string("$null"));
    plist_dict_set_item(archive, "$objects", objects);
    for (const auto &[key, node] : m_overrides) {
        const QByteArray name = key.toUtf8();
        if (node)
            plist_dict_set_item(archive, name.constData(), plist_copy(node));
        else
            plist_dict_remove_item(archive, name.constData());
    }
    char *bytes = nullptr;
    uint32_t length = 0;
    plist_to_bin(archive, &bytes, &length);
    const QByteArray result(bytes, qsizetype(length));
    std::free(bytes);
    plist_free(archive);
    return result;
}

bool KeyedArchiveBuilder::write(const QString &path) const
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    const QByteArray bytes = binary();
    return file.write(bytes) == bytes.size();
}

QByteArray rawBinaryPlist(const QList<QByteArray> &objects, quint64 top, int refSize)
{
    QByteArray out("bplist00");
    QList<quint64> offsets;
    for (const QByteArray &object : objects) {
        offsets.append(quint64(out.size()));
        out.append(object);
    }
    const quint64 tableOffset = quint64(out.size());
    const int offsetSize = out.size() < 256 ? 1 : (out.size() < 65536 ? 2 : 4);
    for (quint64 offset : std::as_const(offsets))
        appendBigEndian(out, offset, offsetSize);
    out.append(QByteArray(6, '\0'));
    out.append(char(offsetSize));
    out.append(char(refSize));
    appendBigEndian(out, quint64(objects.size()), 8);
    appendBigEndian(out, top, 8);
    appendBigEndian(out, tableOffset, 8);
    return out;
}

QByteArray rawAsciiString(const QByteArray &text)
{
    return markerWithCount(0x5, quint64(text.size())) + text;
}

QByteArray rawArray(const QList<quint64> &refs, int refSize)
{
    QByteArray out = markerWithCount(0xA, quint64(refs.size()));
    for (quint64 ref : refs)
        appendBigEndian(out, ref, refSize);
    return out;
}

} // namespace corvane::test
