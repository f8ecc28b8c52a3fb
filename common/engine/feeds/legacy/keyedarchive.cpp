#include "feeds/legacy/keyedarchive.h"

#include "feeds/legacy/plistnode.h"

#include <plist/plist.h>

#include <QDateTime>
#include <QHash>
#include <QStringList>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <optional>
#include <vector>

namespace corvane {

const QString kKeyedArchiveClassNameKey = QStringLiteral("$classname");

namespace {

constexpr double kSecondsFrom1970To2001 = 978307200.0;
// About the year 5000 either way; further out is no date anybody archived.
constexpr double kLargestDateOffset = 1e11;
constexpr quint64 kMax = std::numeric_limits<quint64>::max();

quint64 saturatingAdd(quint64 a, quint64 b)
{
    return a > kMax - b ? kMax : a + b;
}

quint64 readBigEndian(const uchar *bytes, int size)
{
    quint64 value = 0;
    for (int i = 0; i < size; ++i)
        value = (value << 8) | bytes[i];
    return value;
}

// ---------------------------------------------------------------------------
// The structure of a binary property list, checked before libplist sees it.
// libplist copies a shared object once per reference and recurses once per
// level, so a small file can otherwise ask for unbounded memory or stack.
// This walk visits every reachable object once, with an explicit stack, and
// works out the size of the tree the parser would build.

class BinaryPlistCheck
{
public:
    BinaryPlistCheck(QByteArrayView bytes, const KeyedArchiveLimits &limits)
        : m_data(reinterpret_cast<const uchar *>(bytes.data()))
        , m_size(quint64(bytes.size()))
        , m_limits(limits)
    {
    }

    bool run(QString *error);

private:
    struct Shape
    {
        quint8 type = 0;
        bool container = false;
        quint64 refsStart = 0; // containers: offset of the first reference
        quint64 refCount = 0;  // containers: number of references (keys and values for dictionaries)
        quint64 keyCount = 0;  // dictionaries: the first keyCount references are keys
        quint64 payload = 0;   // bytes of text or data the object becomes
    };
    struct Frame
    {
        quint64 index;
        quint64 refsStart;
        quint64 refCount;
        quint64 keyCount;
        quint64 cursor;
        quint64 values;
        quint64 bytes;
    };

    bool fail(const QString &message)
    {
        m_error = message;
        return false;
    }
    bool fits(quint64 start, quint64 length) const { return start <= m_end && length <= m_end - start; }
    bool objectOffset(quint64 index, quint64 *offset);
    bool readCount(quint64 position, quint8 info, quint64 *count, quint64 *next);
    bool inspect(quint64 index, Shape *shape);
    bool add(Frame &frame, quint64 values, quint64 bytes);
    bool isPlainKey(quint64 index);

    const uchar *m_data;
    quint64 m_size;
    const KeyedArchiveLimits &m_limits;
    int m_offsetSize = 0;
    int m_refSize = 0;
    quint64 m_objectCount = 0;
    quint64 m_tableOffset = 0;
    quint64 m_end = 0; // objects lie between the header and the offset table
    std::vector<quint8> m_plainKeys; // 1 once an object is known to be a usable key
    QString m_error;
};

bool BinaryPlistCheck::objectOffset(quint64 index, quint64 *offset)
{
    const quint64 value = readBigEndian(m_data + m_tableOffset + index * quint64(m_offsetSize), m_offsetSize);
    if (value < 8 || value >= m_end)
        return fail(QStringLiteral("object %1 lies outside the object area").arg(index));
    *offset = value;
    return true;
}

// The element count of a marker: in its low four bits, or, when they are all
// set, in the integer object that follows.
bool BinaryPlistCheck::readCount(quint64 position, quint8 info, quint64 *count, quint64 *next)
{
    if (info != 0x0F) {
        *count = info;
        *next = position;
        return true;
    }
    if (!fits(position, 1))
        return fail(QStringLiteral("count cut off"));
    const quint8 marker = m_data[position];
    if ((marker >> 4) != 0x1 || (marker & 0x0F) > 3)
        return fail(QStringLiteral("count is not an integer"));
    const int size = 1 << (marker & 0x0F);
    if (!fits(position + 1, quint64(size)))
        return fail(QStringLiteral("count cut off"));
    *count = readBigEndian(m_data + position + 1, size);
    *next = position + 1 + quint64(size);
    return true;
}

bool BinaryPlistCheck::inspect(quint64 index, Shape *shape)
{
    quint64 offset = 0;
    if (!objectOffset(index, &offset))
        return false;
    const quint8 marker = m_data[offset];
    const quint8 type = marker >> 4;
    const quint8 info = marker & 0x0F;
    const quint64 body = offset + 1;
    shape->type = type;
    switch (type) {
    case 0x0: // booleans; null and fill bytes are not written by archivers
        if (info != 0x8 && info != 0x9)
            return fail(QStringLiteral("object %1 has an unknown marker").arg(index));
        return true;
    case 0x1: // integer of 1, 2, 4, 8 or 16 bytes
        if (info > 4 || !fits(body, quint64(1) << info))
            return fail(QStringLiteral("integer %1 is malformed").arg(index));
        return true;
    case 0x2: // real of 4 or 8 bytes
        if ((info != 2 && info != 3) || !fits(body, quint64(1) << info))
            return fail(QStringLiteral("real %1 is malformed").arg(index));
        return true;
    case 0x3: { // date: 8-byte real, seconds since 2001
        if (info != 3 || !fits(body, 8))
            return fail(QStringLiteral("date %1 is malformed").arg(index));
        const quint64 bits = readBigEndian(m_data + body, 8);
        double seconds = 0;
        std::memcpy(&seconds, &bits, sizeof seconds);
        // libplist turns dates into 32-bit seconds.
        if (!std::isfinite(seconds) || std::fabs(seconds) >= 2147483647.0)
            return fail(QStringLiteral("date %1 is out of range").arg(index));
        return true;
    }
    case 0x4:   // data
    case 0x5:   // ASCII text
    case 0x6: { // UTF-16 text
        quint64 count = 0;
        quint64 start = 0;
        if (!readCount(body, info, &count, &start))
            return false;
        quint64 length = count;
        if (type == 0x6) {
            if (count > kMax / 2)
                return fail(QStringLiteral("text %1 is too long").arg(index));
            length = count * 2;
        }
        if (!fits(start, length))
            return fail(QStringLiteral("object %1 runs past the object area").arg(index));
        // UTF-16 becomes up to three bytes of UTF-8 per unit.
        shape->payload = type == 0x6 ? saturatingAdd(length, count) : length;
        return true;
    }
    case 0x8: { // UID
        const quint64 size = quint64(info) + 1;
        if ((size != 1 && size != 2 && size != 4 && size != 8) || !fits(body, size))
            return fail(QStringLiteral("UID %1 is malformed").arg(index));
        return true;
    }
    case 0xA:   // array
    case 0xC:   // set
    case 0xD: { // dictionary
        quint64 count = 0;
        quint64 start = 0;
        if (!readCount(body, info, &count, &start))
            return false;
        const quint64 perEntry = type == 0xD ? 2 : 1;
        if (count > m_end / perEntry / quint64(m_refSize) || !fits(start, count * perEntry * quint64(m_refSize)))
            return fail(QStringLiteral("container %1 claims more entries than the file holds").arg(index));
        shape->container = true;
        shape->refsStart = start;
        shape->refCount = count * perEntry;
        shape->keyCount = type == 0xD ? count : 0;
        return true;
    }
    default:
        return fail(QStringLiteral("object %1 has an unknown type").arg(index));
    }
}

// Dictionary keys must be texts without NUL characters: libplist hands keys
// out as C strings and asserts on a length mismatch.
bool BinaryPlistCheck::isPlainKey(quint64 index)
{
    if (m_plainKeys[index])
        return true;
    quint64 offset = 0;
    if (!objectOffset(index, &offset))
        return false;
    const quint8 type = m_data[offset] >> 4;
    quint64 count = 0;
    quint64 start = 0;
    if ((type != 0x5 && type != 0x6) || !readCount(offset + 1, m_data[offset] & 0x0F, &count, &start))
        return false;
    const quint64 width = type == 0x6 ? 2 : 1;
    if (count > m_end / width || !fits(start, count * width))
        return false;
    for (quint64 i = 0; i < count; ++i) {
        const uchar *unit = m_data + start + i * width;
        if (unit[0] == 0 && (width == 1 || unit[1] == 0))
            return false;
    }
    m_plainKeys[index] = 1;
    return true;
}

bool BinaryPlistCheck::add(Frame &frame, quint64 values, quint64 bytes)
{
    frame.values = saturatingAdd(frame.values, values);
    frame.bytes = saturatingAdd(frame.bytes, bytes);
    if (frame.values > m_limits.maxValues)
        return fail(QStringLiteral("more than %1 values once shared objects are counted").arg(m_limits.maxValues));
    if (frame.bytes > m_limits.maxPayloadBytes)
        return fail(QStringLiteral("more than %1 bytes of text and data once shared objects are counted")
                        .arg(m_limits.maxPayloadBytes));
    return true;
}

bool BinaryPlistCheck::run(QString *error)
{
    const bool ok = [this] {
        constexpr quint64 kHeader = 8;
        constexpr quint64 kTrailer = 32;
        if (m_size < kHeader + kTrailer || std::memcmp(m_data, "bplist00", 8) != 0)
            return fail(QStringLiteral("not a binary property list"));
        const uchar *trailer = m_data + m_size - kTrailer;
        m_offsetSize = trailer[6];
        m_refSize = trailer[7];
        m_objectCount = readBigEndian(trailer + 8, 8);
        const quint64 top = readBigEndian(trailer + 16, 8);
        m_tableOffset = readBigEndian(trailer + 24, 8);
        const auto sizeOk = [](int size) { return size == 1 || size == 2 || size == 4 || size == 8; };
        if (!sizeOk(m_offsetSize) || !sizeOk(m_refSize))
            return fail(QStringLiteral("unsupported offset or reference size"));
        if (m_objectCount == 0 || top >= m_objectCount)
            return fail(QStringLiteral("no root object"));
        if (m_objectCount > m_limits.maxObjects)
            return fail(QStringLiteral("more than %1 objects").arg(m_limits.maxObjects));
        const quint64 tableEnd = m_size - kTrailer;
        if (m_tableOffset < kHeader || m_tableOffset > tableEnd
            || m_objectCount > (tableEnd - m_tableOffset) / quint64(m_offsetSize))
            return fail(QStringLiteral("offset table out of range"));
        m_end = m_tableOffset;

        Shape shape;
        if (!inspect(top, &shape))
            return false;
        if (!shape.container)
            return shape.payload <= m_limits.maxPayloadBytes
                   || fail(QStringLiteral("more than %1 bytes of text and data").arg(m_limits.maxPayloadBytes));

        m_plainKeys.assign(m_objectCount, 0);
        // 0: not seen, 1: on the current path, 2: done (values and bytes known).
        std::vector<quint8> state(m_objectCount, 0);
        std::vector<quint64> values(m_objectCount, 0);
        std::vector<quint64> bytes(m_objectCount, 0);
        std::vector<Frame> stack;
        stack.push_back(Frame{top, shape.refsStart, shape.refCount, shape.keyCount, 0, 1, 0});
        state[top] = 1;
        while (!stack.empty()) {
            Frame &frame = stack.back();
            if (frame.cursor == frame.refCount) {
                const Frame done = frame;
                stack.pop_back();
                state[done.index] = 2;
                values[done.index] = done.values;
                bytes[done.index] = done.bytes;
                if (!stack.empty() && !add(stack.back(), done.values, done.bytes))
                    return false;
                continue;
            }
            const quint64 child =
                readBigEndian(m_data + frame.refsStart + frame.cursor * quint64(m_refSize), m_refSize);
            const bool isKey = frame.cursor < frame.keyCount;
            ++frame.cursor;
            if (child >= m_objectCount)
                return fail(QStringLiteral("reference to object %1 of %2").arg(child).arg(m_objectCount));
            if (state[child] == 1)
                return fail(QStringLiteral("reference loop through object %1").arg(child));
            if (isKey && !isPlainKey(child))
                return fail(QStringLiteral("dictionary key %1 is not a text without NUL characters").arg(child));
            if (state[child] == 2) {
                if (!add(frame, values[child], bytes[child]))
                    return false;
                continue;
            }
            Shape childShape;
            if (!inspect(child, &childShape))
                return false;
            if (!childShape.container) {
                state[child] = 2;
                values[child] = 1;
                bytes[child] = childShape.payload;
                if (!add(frame, 1, childShape.payload))
                    return false;
                continue;
            }
            if (stack.size() >= size_t(m_limits.maxDepth))
                return fail(QStringLiteral("nested deeper than %1 levels").arg(m_limits.maxDepth));
            state[child] = 1;
            // `frame` is not used past this point: the push may move it.
            stack.push_back(Frame{child, childShape.refsStart, childShape.refCount, childShape.keyCount, 0, 1, 0});
        }
        return true;
    }();
    if (!ok && error)
        *error = m_error;
    return ok;
}

// ---------------------------------------------------------------------------
using PlistHandle = plistnode::Handle;
using plistnode::isType;

// By pointer and length: texts may hold NUL characters.
QString stringValue(plist_t node)
{
    uint64_t length = 0;
    const char *text = plist_get_string_ptr(node, &length);
    return text ? QString::fromUtf8(text, qsizetype(length)) : QString();
}

// Arrays are walked with an iterator: indexing a parsed array is linear in libplist.
std::vector<plist_t> arrayItems(plist_t array)
{
    std::vector<plist_t> items;
    items.reserve(plist_array_get_size(array));
    plist_array_iter iterator = nullptr;
    plist_array_new_iter(array, &iterator);
    if (!iterator)
        return items;
    for (;;) {
        plist_t item = nullptr;
        plist_array_next_item(array, iterator, &item);
        if (!item)
            break;
        items.push_back(item);
    }
    std::free(iterator);
    return items;
}

std::vector<std::pair<QString, plist_t>> dictionaryItems(plist_t dictionary)
{
    std::vector<std::pair<QString, plist_t>> items;
    items.reserve(plist_dict_get_size(dictionary));
    plistnode::forEachEntry(dictionary, [&](const QString &key, plist_t value) { items.emplace_back(key, value); });
    return items;
}

std::optional<QDateTime> dateFrom2001(double seconds)
{
    if (!std::isfinite(seconds) || std::fabs(seconds) > kLargestDateOffset)
        return std::nullopt;
    const double since1970 = seconds + kSecondsFrom1970To2001;
    return QDateTime::fromMSecsSinceEpoch(qint64(std::llround(since1970 * 1000.0)), Qt::UTC);
}

// ---------------------------------------------------------------------------
// The keyed archive: "$objects" resolved through UID references.

enum class Form { Dictionary, Array, String, Data, Date, Other };

Form formOfClass(const QString &name)
{
    static const QHash<QString, Form> forms = {
        {QStringLiteral("NSDictionary"), Form::Dictionary}, {QStringLiteral("NSMutableDictionary"), Form::Dictionary},
        {QStringLiteral("NSArray"), Form::Array},           {QStringLiteral("NSMutableArray"), Form::Array},
        {QStringLiteral("NSSet"), Form::Array},             {QStringLiteral("NSMutableSet"), Form::Array},
        {QStringLiteral("NSOrderedSet"), Form::Array},      {QStringLiteral("NSMutableOrderedSet"), Form::Array},
        {QStringLiteral("NSString"), Form::String},         {QStringLiteral("NSMutableString"), Form::String},
        {QStringLiteral("NSData"), Form::Data},             {QStringLiteral("NSMutableData"), Form::Data},
        {QStringLiteral("NSDate"), Form::Date},
    };
    return forms.value(name, Form::Other);
}

class ArchiveResolver
{
public:
    explicit ArchiveResolver(const KeyedArchiveLimits &limits)
        : m_limits(limits)
    {
    }

    bool resolve(plist_t root, QVariant *out);
    const QString &error() const { return m_error; }

private:
    struct Resolved
    {
        QVariant value;
        quint64 values;
        quint64 bytes;
    };
    struct Nesting
    {
        explicit Nesting(int &depth)
            : m_depth(depth)
        {
            ++m_depth;
        }
        ~Nesting() { --m_depth; }
        int &m_depth;
    };

    bool fail(const QString &message)
    {
        if (m_error.isEmpty())
            m_error = message;
        return false;
    }
    bool count(quint64 values, quint64 bytes);
    bool value(plist_t node, QVariant *out);
    bool object(quint64 uid, QVariant *out);
    bool classNames(plist_t reference, QStringList *names);
    bool archivedObject(plist_t node, plist_t classReference, QVariant *out);
    bool field(plist_t node, const char *key, plist_type type, plist_t *out);

    const KeyedArchiveLimits &m_limits;
    std::vector<plist_t> m_objects;
    std::vector<quint8> m_state; // 0: not seen, 1: being resolved, 2: resolved
    QHash<quint64, Resolved> m_resolved;
    QHash<quint64, QStringList> m_classes;
    quint64 m_values = 0;
    quint64 m_bytes = 0;
    int m_depth = 0;
    QString m_error;
};

bool ArchiveResolver::count(quint64 values, quint64 bytes)
{
    m_values = saturatingAdd(m_values, values);
    m_bytes = saturatingAdd(m_bytes, bytes);
    if (m_values > m_limits.maxValues)
        return fail(QStringLiteral("more than %1 values once references are followed").arg(m_limits.maxValues));
    if (m_bytes > m_limits.maxPayloadBytes)
        return fail(QStringLiteral("more than %1 bytes of text and data once references are followed")
                        .arg(m_limits.maxPayloadBytes));
    return true;
}

bool ArchiveResolver::resolve(plist_t root, QVariant *out)
{
    if (!isType(root, PLIST_DICT))
        return fail(QStringLiteral("not a keyed archive: the root is no dictionary"));
    if (plist_t archiver = plist_dict_get_item(root, "$archiver")) {
        if (!isType(archiver, PLIST_STRING) || stringValue(archiver) != u"NSKeyedArchiver")
            return fail(QStringLiteral("not a keyed archive: unknown archiver"));
    }
    plist_t objects = plist_dict_get_item(root, "$objects");
    plist_t top = plist_dict_get_item(root, "$top");
    if (!isType(objects, PLIST_ARRAY) || !isType(top, PLIST_DICT))
        return fail(QStringLiteral("not a keyed archive: no $objects or $top"));
    m_objects = arrayItems(objects);
    m_state.assign(m_objects.size(), 0);
    if (plist_t rootValue = plist_dict_get_item(top, "root"))
        return value(rootValue, out);
    QVariantMap entries;
    for (const auto &[key, entry] : dictionaryItems(top)) {
        QVariant resolved;
        if (!value(entry, &resolved))
            return false;
        entries.insert(key, resolved);
    }
    *out = entries;
    return count(1, 0);
}

bool ArchiveResolver::object(quint64 uid, QVariant *out)
{
    if (uid >= m_objects.size())
        return fail(QStringLiteral("reference to object %1, but the archive has %2").arg(uid).arg(m_objects.size()));
    if (m_state[uid] == 1)
        return fail(QStringLiteral("reference loop through object %1").arg(uid));
    if (m_state[uid] == 2) {
        const Resolved &done = m_resolved[uid];
        *out = done.value;
        return count(done.values, done.bytes);
    }
    plist_t node = m_objects[uid];
    if (uid == 0 && isType(node, PLIST_STRING) && stringValue(node) == u"$null") {
        *out = QVariant();
        return count(1, 0);
    }
    // A reference chain nests like a container does.
    Nesting nesting(m_depth);
    if (m_depth > m_limits.maxDepth)
        return fail(QStringLiteral("nested deeper than %1 levels").arg(m_limits.maxDepth));
    m_state[uid] = 1;
    const quint64 valuesBefore = m_values;
    const quint64 bytesBefore = m_bytes;
    if (!value(node, out))
        return false;
    m_resolved.insert(uid, Resolved{*out, m_values - valuesBefore, m_bytes - bytesBefore});
    m_state[uid] = 2;
    return true;
}

bool ArchiveResolver::value(plist_t node, QVariant *out)
{
    switch (plist_get_node_type(node)) {
    case PLIST_UID: {
        uint64_t uid = 0;
        plist_get_uid_val(node, &uid);
        return object(uid, out);
    }
    case PLIST_BOOLEAN: {
        uint8_t flag = 0;
        plist_get_bool_val(node, &flag);
        *out = flag != 0;
        return count(1, 0);
    }
    case PLIST_UINT: {
        // Archivers write signed integers; libplist keeps the bits.
        uint64_t bits = 0;
        plist_get_uint_val(node, &bits);
        *out = qint64(bits);
        return count(1, 0);
    }
    case PLIST_REAL: {
        double real = 0;
        plist_get_real_val(node, &real);
        *out = real;
        return count(1, 0);
    }
    case PLIST_STRING: {
        const QString text = stringValue(node);
        *out = text;
        return count(1, quint64(text.size()));
    }
    case PLIST_DATA: {
        uint64_t length = 0;
        const char *bytes = plist_get_data_ptr(node, &length);
        const QByteArray data = bytes ? QByteArray(bytes, qsizetype(length)) : QByteArray();
        *out = data;
        return count(1, quint64(data.size()));
    }
    case PLIST_DATE: {
        int32_t seconds = 0;
        int32_t microseconds = 0;
        plist_get_date_val(node, &seconds, &microseconds);
        const std::optional<QDateTime> date = dateFrom2001(double(seconds) + double(microseconds) / 1e6);
        if (!date)
            return fail(QStringLiteral("date out of range"));
        *out = *date;
        return count(1, 0);
    }
    case PLIST_ARRAY: {
        Nesting nesting(m_depth);
        if (m_depth > m_limits.maxDepth)
            return fail(QStringLiteral("nested deeper than %1 levels").arg(m_limits.maxDepth));
        if (!count(1, 0))
            return false;
        QVariantList list;
        for (plist_t item : arrayItems(node)) {
            QVariant resolved;
            if (!value(item, &resolved))
                return false;
            list.append(resolved);
        }
        *out = list;
        return true;
    }
    case PLIST_DICT: {
        Nesting nesting(m_depth);
        if (m_depth > m_limits.maxDepth)
            return fail(QStringLiteral("nested deeper than %1 levels").arg(m_limits.maxDepth));
        if (!count(1, 0))
            return false;
        if (plist_t classReference = plist_dict_get_item(node, "$class"))
            return archivedObject(node, classReference, out);
        QVariantMap map;
        for (const auto &[key, entry] : dictionaryItems(node)) {
            QVariant resolved;
            if (!value(entry, &resolved))
                return false;
            map.insert(key, resolved);
        }
        *out = map;
        return true;
    }
    default:
        return fail(QStringLiteral("unexpected value type in the archive"));
    }
}

// The class's name followed by its "$classes" chain.
bool ArchiveResolver::classNames(plist_t reference, QStringList *names)
{
    if (!isType(reference, PLIST_UID))
        return fail(QStringLiteral("$class is not a reference"));
    uint64_t uid = 0;
    plist_get_uid_val(reference, &uid);
    if (const auto it = m_classes.constFind(uid); it != m_classes.cend()) {
        *names = *it;
        return true;
    }
    if (uid >= m_objects.size())
        return fail(QStringLiteral("reference to class %1, but the archive has %2 objects").arg(uid).arg(m_objects.size()));
    plist_t description = m_objects[uid];
    plist_t name = isType(description, PLIST_DICT) ? plist_dict_get_item(description, "$classname") : nullptr;
    if (!isType(name, PLIST_STRING))
        return fail(QStringLiteral("object %1 is no class description").arg(uid));
    QStringList result{stringValue(name)};
    if (plist_t chain = plist_dict_get_item(description, "$classes")) {
        if (!isType(chain, PLIST_ARRAY))
            return fail(QStringLiteral("$classes of class %1 is no list").arg(uid));
        const std::vector<plist_t> classes = arrayItems(chain);
        if (!count(quint64(classes.size()), 0))
            return false;
        for (plist_t entry : classes) {
            if (!isType(entry, PLIST_STRING))
                return fail(QStringLiteral("$classes of class %1 holds a non-text").arg(uid));
            result.append(stringValue(entry));
        }
    }
    m_classes.insert(uid, result);
    *names = result;
    return true;
}

bool ArchiveResolver::field(plist_t node, const char *key, plist_type type, plist_t *out)
{
    plist_t entry = plist_dict_get_item(node, key);
    if (!isType(entry, type))
        return fail(QStringLiteral("%1 is missing or of the wrong type").arg(QLatin1String(key)));
    *out = entry;
    return true;
}

bool ArchiveResolver::archivedObject(plist_t node, plist_t classReference, QVariant *out)
{
    QStringList names;
    if (!classNames(classReference, &names))
        return false;
    Form form = Form::Other;
    for (const QString &name : std::as_const(names)) {
        form = formOfClass(name);
        if (form != Form::Other)
            break;
    }

    switch (form) {
    case Form::Dictionary: {
        plist_t keys = nullptr;
        plist_t objects = nullptr;
        if (!field(node, "NS.keys", PLIST_ARRAY, &keys) || !field(node, "NS.objects", PLIST_ARRAY, &objects))
            return false;
        const std::vector<plist_t> keyItems = arrayItems(keys);
        const std::vector<plist_t> valueItems = arrayItems(objects);
        if (keyItems.size() != valueItems.size())
            return fail(QStringLiteral("dictionary with %1 keys and %2 values").arg(keyItems.size()).arg(valueItems.size()));
        QVariantMap map;
        for (size_t i = 0; i < keyItems.size(); ++i) {
            QVariant key;
            QVariant resolved;
            if (!value(keyItems[i], &key) || !value(valueItems[i], &resolved))
                return false;
            if (key.typeId() != QMetaType::QString && key.typeId() != QMetaType::LongLong)
                return fail(QStringLiteral("dictionary key is not a text"));
            map.insert(key.toString(), resolved);
        }
        *out = map;
        return true;
    }
    case Form::Array: {
        plist_t objects = nullptr;
        if (!field(node, "NS.objects", PLIST_ARRAY, &objects))
            return false;
        QVariantList list;
        for (plist_t item : arrayItems(objects)) {
            QVariant resolved;
            if (!value(item, &resolved))
                return false;
            list.append(resolved);
        }
        *out = list;
        return true;
    }
    case Form::String:
    case Form::Data: {
        const bool text = form == Form::String;
        plist_t content = plist_dict_get_item(node, text ? "NS.string" : "NS.data");
        if (!content)
            return fail(text ? QStringLiteral("NS.string is missing") : QStringLiteral("NS.data is missing"));
        if (!value(content, out))
            return false;
        if (out->typeId() != (text ? QMetaType::QString : QMetaType::QByteArray))
            return fail(text ? QStringLiteral("NS.string is no text") : QStringLiteral("NS.data is no data"));
        return true;
    }
    case Form::Date: {
        plist_t time = plist_dict_get_item(node, "NS.time");
        double seconds = 0;
        if (isType(time, PLIST_REAL)) {
            plist_get_real_val(time, &seconds);
        } else if (isType(time, PLIST_UINT)) {
            uint64_t bits = 0;
            plist_get_uint_val(time, &bits);
            seconds = double(qint64(bits));
        } else {
            return fail(QStringLiteral("NS.time is missing or no number"));
        }
        const std::optional<QDateTime> date = dateFrom2001(seconds);
        if (!date)
            return fail(QStringLiteral("date out of range"));
        *out = *date;
        return true;
    }
    case Form::Other:
        break;
    }

    QVariantMap fields;
    for (const auto &[key, entry] : dictionaryItems(node)) {
        if (key == u"$class")
            continue;
        QVariant resolved;
        if (!value(entry, &resolved))
            return false;
        fields.insert(key, resolved);
    }
    fields.insert(kKeyedArchiveClassNameKey, names.constFirst());
    *out = fields;
    return true;
}

} // namespace

bool checkBinaryPropertyList(QByteArrayView bytes, const KeyedArchiveLimits &limits, QString *error)
{
    if (bytes.size() > limits.maxInputBytes || bytes.size() > std::numeric_limits<qint32>::max()) {
        if (error)
            *error = QStringLiteral("property list of %1 bytes is larger than %2").arg(bytes.size()).arg(limits.maxInputBytes);
        return false;
    }
    return BinaryPlistCheck(bytes, limits).run(error);
}

KeyedArchiveResult readKeyedArchive(QByteArrayView bytes, const KeyedArchiveLimits &limits)
{
    KeyedArchiveResult result;
    if (bytes.size() > limits.maxInputBytes || bytes.size() > std::numeric_limits<qint32>::max()) {
        result.error = QStringLiteral("archive of %1 bytes is larger than %2").arg(bytes.size()).arg(limits.maxInputBytes);
        return result;
    }
    BinaryPlistCheck check(bytes, limits);
    if (!check.run(&result.error))
        return result;
    plist_t parsed = nullptr;
    plist_from_bin(bytes.data(), uint32_t(bytes.size()), &parsed);
    PlistHandle root(parsed);
    if (!root) {
        result.error = QStringLiteral("the property list could not be parsed");
        return result;
    }
    ArchiveResolver resolver(limits);
    if (!resolver.resolve(root.get(), &result.root)) {
        result.error = resolver.error();
        result.root = QVariant();
    }
    return result;
}

} // namespace corvane
