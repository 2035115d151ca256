#pragma once
// Texts reach the windows as typed: never read as markup, CR LF made plain.

#include <QLabel>
#include <QString>
#include <string>

namespace varnel::qt {

inline QString Plain(const std::string& text) {
    QString plain = QString::fromStdString(text);
    plain.remove(QLatin1Char('\r'));
    return plain;
}

inline QLabel* PlainLabel(const QString& text, QWidget* parent) {
    auto* label = new QLabel(parent);
    label->setTextFormat(Qt::PlainText);
    label->setText(text);
    return label;
}

}  // namespace varnel::qt
