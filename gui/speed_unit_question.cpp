#include "speed_unit_question.h"

#include <QCoreApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QStringList>

namespace speed_unit_question {

namespace {

QString tr(const char *text) {
    return QCoreApplication::translate("MainWindow", text);
}

QString symbol(SpeedUnit unit) {
    return QString::fromLatin1(speedSymbol(unit));
}

} // namespace

Answer ask(QWidget *parent, const SpeedConversion &conversion, SpeedUnit from, SpeedUnit to) {
    QStringList lines;
    for (const ConvertedSpeed &speed : conversion.speeds) {
        lines << QStringLiteral("%1: %2 %3 \u2192 %4 %5")
                     .arg(QString::fromStdString(speed.label))
                     .arg(speed.from)
                     .arg(symbol(from))
                     .arg(speed.to)
                     .arg(symbol(to));
    }
    QString text = tr("The V-speeds are set in %1. Convert them to %2 (rounded to whole numbers), "
                      "or keep the numbers, which then read in %2?")
                       .arg(symbol(from), symbol(to));
    if (!conversion.fits) {
        text += QStringLiteral("\n\n") +
                tr("They cannot be converted: %1.")
                    .arg(QString::fromStdString(tooLargeText(conversion, from, to)));
    }
    QMessageBox box(QMessageBox::Question, tr("Change Speed Unit"), text, QMessageBox::Cancel,
                    parent);
    box.setObjectName("speedUnitBox");
    box.setInformativeText(lines.join('\n'));
    QPushButton *convert = box.addButton(tr("Convert"), QMessageBox::AcceptRole);
    convert->setObjectName("convertSpeedsButton");
    convert->setEnabled(conversion.fits);
    QPushButton *keep = box.addButton(tr("Keep Numbers"), QMessageBox::DestructiveRole);
    keep->setObjectName("keepSpeedsButton");
    // Enter and Escape leave the unit and the V-speeds as they were.
    box.setDefaultButton(QMessageBox::Cancel);
    box.setEscapeButton(QMessageBox::Cancel);
    box.exec();
    if (box.clickedButton() == convert) {
        return Answer::Convert;
    }
    return box.clickedButton() == keep ? Answer::Keep : Answer::Cancel;
}

QString outcomeText(Answer answer, SpeedUnit from, SpeedUnit to, int converted) {
    switch (answer) {
    case Answer::Convert:
        return tr("%1 V-speed(s) converted from %2 to %3, rounded to whole numbers")
            .arg(converted)
            .arg(symbol(from), symbol(to));
    case Answer::Keep:
        return tr("V-speed numbers kept: they now read in %1").arg(symbol(to));
    case Answer::Cancel:
        break;
    }
    return tr("Speed unit not changed: still %1").arg(symbol(from));
}

} // namespace speed_unit_question
