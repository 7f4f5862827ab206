#include "DeviceDetails.h"

#include <QClipboard>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

DeviceDetails::DeviceDetails(const QString& text, const QString& title, const QString& copy,
                             const QString& close, QWidget* parent)
    : QDialog(parent), fields(new QPlainTextEdit(this)), copyButton(new QPushButton(copy, this)),
      closeButton(new QPushButton(close, this))
{
    setWindowTitle(title);
    setAccessibleName(title);
    // Plain text: whatever a device sent is shown as it is, and can be selected.
    fields->setPlainText(text);
    fields->setReadOnly(true);
    fields->setLineWrapMode(QPlainTextEdit::NoWrap);
    fields->setAccessibleName(title);
    fields->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    const QFontMetrics metrics(fields->font());
    fields->setMinimumSize(metrics.horizontalAdvance(QLatin1Char('x')) * 56,
                           metrics.lineSpacing() * (static_cast<int>(text.count(QLatin1Char('\n'))) + 3));
    copyButton->setAccessibleName(copy);
    closeButton->setAccessibleName(close);
    connect(copyButton, &QPushButton::clicked, this, [text] { QGuiApplication::clipboard()->setText(text); });
    connect(closeButton, &QPushButton::clicked, this, &QDialog::accept);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(copyButton);
    buttons->addWidget(closeButton);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(fields);
    layout->addLayout(buttons);
}
