#pragma once
// Field labels (the captions in front of edits and lists) are drawn in grey across the window.

#include <QStringList>

class QWidget;

// The texts of the labels that are field labels.
QStringList FieldLabelTexts();

// Sets the label's text colour to grey (128, 128, 128).
void SetLabelGrey(QWidget *label);

// Greys every label under `root` whose text is one of FieldLabelTexts(). Returns how many.
int ApplyFieldLabelColours(QWidget *root);
