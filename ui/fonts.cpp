// SPDX-License-Identifier: MIT
#include "ui/fonts.h"

#include <QStringList>

using namespace Qt::StringLiterals;

namespace {

QFont face(const QString& family, qreal points)
{
    QFont font;
    font.setFamilies({ family, u"Microsoft Sans Serif"_s, u"Arial"_s, u"Liberation Sans"_s,
        u"Nimbus Sans"_s, u"Helvetica"_s });
    font.setStyleHint(QFont::SansSerif);
    font.setPointSizeF(points);
    return font;
}

} // namespace

QFont sansSerif(qreal points)
{
    return face(u"MS Sans Serif"_s, points);
}

QFont arial(qreal points)
{
    return face(u"Arial"_s, points);
}
