#pragma once

#include "objectid.h"

#include <memory>

namespace corvane {

class Context;
class Record;

// The record class for an entity (and, for subscriptions, its kind).
std::unique_ptr<Record> makeRecord(Context *context, ObjectID id, int kind);

} // namespace corvane
