#pragma once

#include <QDialog>
#include <QMetaType>

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dctagkey.h>

#include <map>

class QComboBox;
class QLineEdit;
class QSpinBox;
class DcmSequenceOfItems;

Q_DECLARE_METATYPE(DcmTagKey)

namespace Dravelin::Dicom {

// Asks for the tag, value and (inside a sequence) item of an element to insert. The tag can be
// typed as group and element or chosen by name from DCMTK's data dictionary; both stay in step.
class TagInsertDialog : public QDialog
{
    Q_OBJECT

public:
    // `sequence`: the clicked sequence, or null when inserting into the dataset itself.
    TagInsertDialog(DcmSequenceOfItems* sequence, int currentItem, QWidget* parent = nullptr);

    // False when group or element is not four hexadecimal digits.
    bool hasValidKey() const;
    DcmTagKey key() const;
    QString value() const;
    // The chosen item of the sequence, -1 for a new one.
    int sequenceIndex() const;

private:
    void fillDictionaryNames();
    void onNameChosen(int index);
    void onKeyEdited();

    QLineEdit* m_groupEdit = nullptr;
    QLineEdit* m_elementEdit = nullptr;
    QComboBox* m_nameComboBox = nullptr;
    QLineEdit* m_valueEdit = nullptr;
    QSpinBox* m_sequenceIndexSpinBox = nullptr;
    std::map<DcmTagKey, int> m_rowOfKey;
};

}  // namespace Dravelin::Dicom
