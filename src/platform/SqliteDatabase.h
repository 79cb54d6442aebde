#pragma once
// A small RAII layer over the SQLite C API.
namespace velmora::platform {

class SqliteDatabase {};

}  // namespace velmora::platform
