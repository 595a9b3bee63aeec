#pragma once

#include <soci/soci.h>

#include <cstddef>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "core/connection_string.h"

namespace kestrix::plugin {

// A text the database cannot take as it is: PostgreSQL refuses bytes that
// are not UTF-8. Thrown before the statement runs; the statement then fails
// as it would have on the server, without a round trip.
struct UnsendableText : std::runtime_error {
    UnsendableText() : std::runtime_error("text that is not UTF-8") {}
};

// The text, or UnsendableText when the engine cannot take it.
std::string_view sendable(Engine engine, std::string_view text);

// A SELECT prepared once on a connection, with at most one text parameter
// and a fixed number of columns, every column read as text. The parameter
// is bound, never spliced: the database compares it exactly as it would
// compare the same value written as an SQL text literal.
class PreparedQuery {
  public:
    // rowsPerFetch above 1 suits a list: its rows come that many at a time.
    PreparedQuery(soci::session& session, Engine engine, const std::string& sql,
                  std::size_t columns, bool hasParameter, std::size_t rowsPerFetch = 1);
    ~PreparedQuery();
    PreparedQuery(const PreparedQuery&) = delete;
    PreparedQuery& operator=(const PreparedQuery&) = delete;

    // The current row's column; no value for a database NULL.
    [[nodiscard]] std::optional<std::string> column(std::size_t i) const;
    // The same without a copy: valid until the next row; nullptr for NULL.
    [[nodiscard]] const std::string* text(std::size_t i) const;

    // Runs the query and calls onRow for each row until it returns false.
    // Throws what the database throws.
    template <class OnRow>
    void run(std::string_view parameter, OnRow&& onRow) {
        parameter_.assign(sendable(engine_, parameter));
        Finisher finisher{*this};
        if (direct_ != nullptr) {
            startDirect();
            while (stepDirect() && onRow()) {
            }
            return;
        }
        if (rowsPerFetch_ == 1) {
            bool more = statement_.execute(true);
            while (more && onRow()) {
                more = statement_.fetch();
            }
            return;
        }
        // The batch size is taken from the columns at each execute and fetch.
        makeRoom();
        statement_.execute(false);
        while (statement_.fetch()) {
            const std::size_t fetched = batchValues_.front().size();
            for (row_ = 0; row_ < fetched; ++row_) {
                if (!onRow()) return;
            }
            makeRoom();
        }
    }

  private:
    // Ends the statement's read when the caller stops early, so that an
    // engine that keeps a read open on an unfinished statement releases it.
    struct Finisher {
        PreparedQuery& query;
        ~Finisher() { query.finish(); }
    };
    void finish() noexcept;
    // Sizes every column for a full batch again before a fetch.
    void makeRoom();
    // SQLite is read through its own interface: the library's type
    // conversions for every column of every row cost more than the read.
    void startDirect();
    // Steps to the next row and keeps its columns; false at the end.
    bool stepDirect();

    Engine engine_;
    std::size_t rowsPerFetch_;
    std::string parameter_;
    // One row at a time...
    std::vector<std::string> values_;
    std::vector<soci::indicator> indicators_;
    // ...or a batch: [column][row of the batch].
    std::vector<std::vector<std::string>> batchValues_;
    std::vector<std::vector<soci::indicator>> batchIndicators_;
    std::size_t row_ = 0;
    void* direct_ = nullptr;  // the SQLite statement, on SQLite
    bool hasParameter_ = false;
    soci::statement statement_;
};

// An UPDATE prepared once on a connection; the caller binds its variables
// by reference and sets them before each run.
class PreparedUpdate {
  public:
    template <class... Uses>
    PreparedUpdate(soci::session& session, const std::string& sql, Uses&&... uses)
        : statement_(session) {
        (statement_.exchange(std::forward<Uses>(uses)), ...);
        statement_.alloc();
        statement_.prepare(sql);
        statement_.define_and_bind();
    }

    // Runs the statement; the number of rows it changed. Throws what the
    // database throws.
    [[nodiscard]] long long run() {
        statement_.execute(true);
        return statement_.get_affected_rows();
    }

  private:
    soci::statement statement_;
};

}  // namespace kestrix::plugin
