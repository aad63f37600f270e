#pragma once
#include <QByteArray>
#include <QDateTime>
#include <QFont>
#include <QString>

#include "model/code_catalogue.h"
#include "model/device_info_bytes.h"
#include "model/device_model.h"
#include "model/param_table.h"

class QPagedPaintDevice;

namespace km27::ui {

// What a record for commissioning shows besides the programme itself.
struct RecordContent {
  QString file;          // where the programme is kept, or came from
  bool changed = false;  // edited since that file was opened or written
  QDateTime when;
  DeviceModel model = CodeBox;
  bool hasDeviceInfo = false;  // the code transmitter's device information, where the tool has it
  DeviceInfo deviceInfo{};
  Programme programme;
  // The last logged transfer of this programme ("2026-12-08 13:45:02 下载 COM1 成功"); empty: none.
  QString lastTransfer;
};

// A4 portrait with margins of 15 mm.
void PrepareRecordPages(QPagedPaintDevice& device);

// A font that holds the Chinese characters (preferring the one the project installs), so the
// PDF embeds it rather than leaving the reader to guess.
QFont RecordFont(qreal pointSize);

// Paints the record on the device's pages: the header with the programme's fingerprint, the
// line settings, the overview picture, every carrier's steps as a table and the lines to sign,
// with page numbers. Returns the number of pages.
int PaintRecord(QPagedPaintDevice& device, const RecordContent& content, const CodeCatalogue& catalogue);

// The record as the bytes of a PDF file.
QByteArray RecordPdf(const RecordContent& content, const CodeCatalogue& catalogue, int* pages = nullptr);

}  // namespace km27::ui
