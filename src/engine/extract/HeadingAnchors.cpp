#include "engine/extract/HeadingAnchors.h"

namespace HeadingAnchors {

// GitHub keeps what Ruby's \p{Word} matches, hyphens and spaces.
static bool keptInAnchor(char32_t c)
{
    switch (QChar::category(c)) {
    case QChar::Letter_Uppercase:
    case QChar::Letter_Lowercase:
    case QChar::Letter_Titlecase:
    case QChar::Letter_Modifier:
    case QChar::Letter_Other:
    case QChar::Mark_NonSpacing:
    case QChar::Mark_SpacingCombining:
    case QChar::Mark_Enclosing:
    case QChar::Number_DecimalDigit:
    case QChar::Number_Letter:
    case QChar::Number_Other:
    case QChar::Punctuation_Connector:
        return true;
    default:
        return c == U'-' || c == U' ';
    }
}

QString anchorOf(QStringView headingText)
{
    QString anchor;
    for (const char32_t c : headingText.toString().toLower().toUcs4()) {
        if (c == U' ')
            anchor += u'-';
        else if (keptInAnchor(c))
            anchor += QChar::fromUcs4(c);
    }
    return anchor;
}

QString Document::anchorFor(QStringView headingText)
{
    const QString first = anchorOf(headingText);
    QString anchor = first;
    while (m_given.contains(anchor))
        anchor = first + u'-' + QString::number(++m_repeats[first]);
    m_given.insert(anchor);
    return anchor;
}
}
