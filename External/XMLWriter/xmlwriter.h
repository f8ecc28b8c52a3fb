#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

namespace corvane {

// A small writer of indented XML documents in UTF-8: one tab per nesting
// level, a line feed before every start tag and before an end tag that
// follows child elements, elements without content closed as " />".
// Text and attribute values are escaped, and characters XML 1.0 does not
// allow are left out.
class XMLWriter
{
public:
    // <?xml version="1.0" encoding="utf-8" ?>
    void writeStartDocument();
    void writeStartElement(const QString &name);
    // Only between writeStartElement() and the element's first content.
    void writeAttribute(const QString &name, const QString &value);
    void writeCharacters(const QString &text);
    void writeEndElement();
    // Closes every element still open.
    void writeEndDocument();

    const QByteArray &data() const { return m_data; }

    // The text with & < > " escaped and characters XML 1.0 forbids removed.
    static QString escaped(const QString &text);

private:
    void closeStartTag();
    void newLine(qsizetype depth);

    struct Open
    {
        QString name;
        bool hasChildren = false;
        bool hasText = false;
    };
    QByteArray m_data;
    QList<Open> m_open;
    bool m_startTagOpen = false;
};

} // namespace corvane
