#include "previewdocument.h"

#include <QByteArray>

namespace corvane::desktop::previewdocument {

namespace {

// url::kMaxURLChars of Chromium, with room for "data:text/html;charset=UTF-8,".
constexpr qsizetype kMaxDataUrl = 2 * 1024 * 1024 - 64;

QString head()
{
    return QStringLiteral("<html><head><style>")
           + QStringLiteral("h1 { font-size: 108%; font-weight: bold; text-align: justified; }")
           + QStringLiteral("html {overflow-x:hidden; overflow-y: auto;}") + QStringLiteral("body{max-width:100%; ")
           + QStringLiteral("position: absolute;top: 0px;left: 0px;bottom: 0px;right: 0px;")
           + QStringLiteral("padding: 1px 0px 0px 0px;") + QStringLiteral("overflow-x: auto; overflow-y: auto;")
           + QStringLiteral("}")
           + QStringLiteral("::-webkit-scrollbar {width: 6px;height: 8px;}"
                            "                            "
                            "::-webkit-scrollbar-track {-webkit-box-shadow: inset 0 0 0px rgba(0,0,0,0.2);"
                            "border-radius: 5px;}"
                            "                            "
                            "::-webkit-scrollbar-thumb {border-radius: 4px;"
                            "-webkit-box-shadow: inset 0 0 6px rgba(0,0,0,0.5);}")
           + QStringLiteral("div{max-width:99.5% !important;} img{max-width:99.5% !important;height:auto "
                            "!important;} iframe{max-width:99.5% !important;height:auto !important;}")
           + QStringLiteral("a{color:rgb(0, 136, 204);text-decoration:none;}") + QStringLiteral("</style>")
           + QStringLiteral("</head><body><div id=\"corvanemaincontent\">");
}

QString tail()
{
    return QStringLiteral("     </div></body>     </html>     ");
}

qsizetype encodedSize(const QString &text)
{
    return text.toUtf8().toPercentEncoding().size();
}

} // namespace

QString document(const QString &preview)
{
    return head() + fittedPreview(preview) + tail();
}

QString blankDocument()
{
    return QStringLiteral("<html><body></body></html>");
}

QString fittedPreview(const QString &preview)
{
    const qsizetype frame = encodedSize(head() + tail());
    if (frame + encodedSize(preview) <= kMaxDataUrl)
        return preview;
    const QString note = QStringLiteral("<p><i>The rest of this item is too long to preview; open it in the "
                                        "browser.</i></p>");
    const qsizetype budget = kMaxDataUrl - frame - encodedSize(note);
    // Percent-encoding triples a byte at most, so a third of the budget in
    // UTF-8 bytes always fits; grow from there while it still does.
    qsizetype low = 0;
    qsizetype high = preview.size();
    while (low < high) {
        const qsizetype mid = (low + high + 1) / 2;
        if (encodedSize(preview.left(mid)) <= budget)
            low = mid;
        else
            high = mid - 1;
    }
    qsizetype cut = low;
    if (cut > 0 && preview.at(cut - 1).isHighSurrogate())
        --cut;
    // Never inside a tag: stop before an unclosed "<".
    const qsizetype open = preview.lastIndexOf(u'<', cut - 1);
    if (open >= 0 && preview.indexOf(u'>', open) >= cut)
        cut = open;
    return preview.left(cut) + note;
}

QString heightScript(int width)
{
    return QStringLiteral("(function(w){var d=document.getElementById('corvanemaincontent');"
                          "if(!d)return -1;var had=d.hasAttribute('style');var old=d.getAttribute('style');"
                          "d.style.setProperty('width',w+'px','important');"
                          "d.style.setProperty('max-width','none','important');"
                          "var h=d.clientHeight;"
                          "if(had)d.setAttribute('style',old);else d.removeAttribute('style');"
                          "return h;})(%1);")
        .arg(width);
}

} // namespace corvane::desktop::previewdocument
