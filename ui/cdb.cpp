// SPDX-License-Identifier: MIT
#include "ui/cdb.h"

#include <QFileDialog>

bool CDB::ShowSave(QWidget* parent)
{
    QFileDialog dialog(parent);
    dialog.setObjectName(QStringLiteral("CDB"));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    // Records are appended to a chosen file, never written over it, so the
    // overwrite question would mislead; and a name typed without an
    // extension is used as typed.
    dialog.setOption(QFileDialog::DontConfirmOverwrite);
    dialog.setNameFilter(Filter);
    if (!FileName.isEmpty())
        dialog.selectFile(FileName);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return false;
    FileName = QDir::toNativeSeparators(dialog.selectedFiles().constFirst());
    return true;
}
