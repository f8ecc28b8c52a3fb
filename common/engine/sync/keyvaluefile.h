#pragma once

#include "sync/keyvaluerecord.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

namespace corvane::sync {

// The key-value files of the cloud folder: a binary property list (version
// 1.0, "bplist00") whose top level maps keys to records, each record a map
// of texts, integers, reals, booleans and dates that holds an integer
// "clock".
//
// The folder is written by other machines and programs, so reading trusts
// nothing: the binary structure is checked before libplist parses it
// (offsets, cut-off objects, reference loops, nesting, sizes once shared
// objects are followed, files over 32 MB). A top level that is no map of
// records refuses the file; a single record without an integer "clock" or
// with another kind of value (data, arrays, maps) is left out and counted,
// and the rest of the file is used.
struct KeyValueFileContent
{
    KeyValueDictionary dictionary;
    int skippedRecords = 0;
    QString error; // empty when the file was read
    bool ok() const { return error.isEmpty(); }
};

KeyValueFileContent readKeyValueFile(QByteArrayView bytes);
// Keys in sorted order, so equal dictionaries give equal bytes.
QByteArray writeKeyValueFile(const KeyValueDictionary &dictionary);

} // namespace corvane::sync
