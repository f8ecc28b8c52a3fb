#include "xmlwriter.h"

namespace corvane {
namespace {

bool allowedInXml(char32_t c)
{
    return c == 0x9 || c == 0xA || c == 0xD || (c >= 0x20 && c <= 0xD7FF) || (c >= 0xE000 && c <= 0xFFFD)
        || (c >= 0x10000 && c <= 0x10FFFF);
}

} // namespace

QString XMLWriter::escaped(const QString &text)
{
    QString out;
    out.reserve(text.size() + text.size() / 8);
    const qsizetype size = text.size();
    for (qsizetype i = 0; i < size; ++i) {
        const QChar c = text.at(i);
        if (c.isHighSurrogate() && i + 1 < size && text.at(i + 1).isLowSurrogate()) {
            const char32_t code = QChar::surrogateToUcs4(c, text.at(i + 1));
            if (allowedInXml(code)) {
                out.append(c);
                out.append(text.at(i + 1));
            }
            ++i;
            continue;
        }
        if (c.isSurrogate() || !allowedInXml(c.unicode()))
            continue;
        switch (c.unicode()) {
        case '&': out.append(u"&amp;"); break;
        case '<': out.append(u"&lt;"); break;
        case '>': out.append(u"&gt;"); break;
        case '"': out.append(u"&quot;"); break;
        default: out.append(c);
        }
    }
    return out;
}

void XMLWriter::writeStartDocument()
{
    m_data.append("<?xml version=\"1.0\" encoding=\"utf-8\" ?>");
}

void XMLWriter::newLine(qsizetype depth)
{
    if (!m_data.isEmpty())
        m_data.append('\n');
    m_data.append(QByteArray(depth, '\t'));
}

void XMLWriter::closeStartTag()
{
    if (m_startTagOpen) {
        m_data.append('>');
        m_startTagOpen = false;
    }
}

void XMLWriter::writeStartElement(const QString &name)
{
    closeStartTag();
    if (!m_open.isEmpty())
        m_open.last().hasChildren = true;
    newLine(m_open.size());
    m_data.append('<').append(name.toUtf8());
    m_open.append(Open{name});
    m_startTagOpen = true;
}

void XMLWriter::writeAttribute(const QString &name, const QString &value)
{
    Q_ASSERT(m_startTagOpen);
    m_data.append(' ').append(name.toUtf8()).append("=\"").append(escaped(value).toUtf8()).append('"');
}

void XMLWriter::writeCharacters(const QString &text)
{
    if (m_open.isEmpty())
        return;
    closeStartTag();
    m_open.last().hasText = true;
    m_data.append(escaped(text).toUtf8());
}

void XMLWriter::writeEndElement()
{
    if (m_open.isEmpty())
        return;
    const Open element = m_open.takeLast();
    if (m_startTagOpen) {
        m_data.append(" />");
        m_startTagOpen = false;
        return;
    }
    if (element.hasChildren)
        newLine(m_open.size());
    m_data.append("</").append(element.name.toUtf8()).append('>');
}

void XMLWriter::writeEndDocument()
{
    while (!m_open.isEmpty())
        writeEndElement();
}

} // namespace corvane
