# Debian's libsoci-dev ships no CMake package: locate the headers and the
# three libraries we use and wrap them in imported targets.
find_path(SOCI_INCLUDE_DIR soci/soci.h REQUIRED)
find_library(SOCI_CORE_LIBRARY soci_core REQUIRED)
find_library(SOCI_SQLITE3_LIBRARY soci_sqlite3 REQUIRED)
find_library(SOCI_POSTGRESQL_LIBRARY soci_postgresql REQUIRED)
find_package(PostgreSQL REQUIRED)
find_package(SQLite3 REQUIRED)

add_library(Soci::core UNKNOWN IMPORTED)
set_target_properties(Soci::core PROPERTIES
  IMPORTED_LOCATION "${SOCI_CORE_LIBRARY}"
  INTERFACE_INCLUDE_DIRECTORIES "${SOCI_INCLUDE_DIR};${PostgreSQL_INCLUDE_DIRS}")

add_library(Soci::sqlite3 UNKNOWN IMPORTED)
set_target_properties(Soci::sqlite3 PROPERTIES
  IMPORTED_LOCATION "${SOCI_SQLITE3_LIBRARY}"
  INTERFACE_LINK_LIBRARIES "Soci::core;SQLite::SQLite3")

add_library(Soci::postgresql UNKNOWN IMPORTED)
set_target_properties(Soci::postgresql PROPERTIES
  IMPORTED_LOCATION "${SOCI_POSTGRESQL_LIBRARY}"
  INTERFACE_LINK_LIBRARIES "Soci::core;PostgreSQL::PostgreSQL")
