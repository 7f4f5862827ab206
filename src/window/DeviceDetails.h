// One device's details: every field of its record and what the store of
// known devices knows of it, as "key: value" lines the user can select, and a
// button that copies them all. Device text is shown as text, never as markup.
#ifndef NASFINDER_DEVICEDETAILS_H
#define NASFINDER_DEVICEDETAILS_H

#include <QDialog>
#include <QString>

class QPlainTextEdit;
class QPushButton;

class DeviceDetails : public QDialog
{
    Q_OBJECT
public:
    // `text` is what DetailsText made of the row; `title`, `copy` and `close`
    // are the captions in the window's language.
    DeviceDetails(const QString& text, const QString& title, const QString& copy, const QString& close,
                  QWidget* parent = nullptr);

    QPlainTextEdit* fields;
    QPushButton* copyButton;
    QPushButton* closeButton;
};

#endif
