#pragma once

#include <QHash>
#include <QSet>
#include <QString>
#include <QStringView>

// The fragment names GitHub gives a Markdown document's headings, so that a
// link to "#usage" is checked against the page as GitHub shows it.
namespace HeadingAnchors {
// The anchor of a heading with this text (its text as shown, without the
// markup): lower-cased, every character dropped but letters, marks, numbers,
// connector punctuation such as "_", hyphens and spaces, each space a hyphen.
QString anchorOf(QStringView headingText);

// The anchors of one document's headings, no two alike: a heading whose
// anchor was given before gets the first of "-1", "-2"... that is still free.
class Document {
public:
    QString anchorFor(QStringView headingText);

private:
    QSet<QString> m_given;
    // How many times each anchor came again, to go on from there.
    QHash<QString, int> m_repeats;
};
}
