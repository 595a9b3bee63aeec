#pragma once

#include <QDialog>

#include <optional>
#include <string>

class QCheckBox;
class QLineEdit;

namespace kestrix {

// The connection dialog for a PostgreSQL database: server, port, database,
// and a login (a user name and password, or this computer's login).
class ConnectionDialog : public QDialog {
    Q_OBJECT
  public:
    explicit ConnectionDialog(QWidget* parent = nullptr);

    // Fills the server box from "host[:port]".
    void setServer(const std::string& server);
    void setDatabase(const std::string& database);
    // The complete connection string the boxes describe; nothing while the
    // server or the database is missing.
    std::optional<std::string> connectionString() const;

  public slots:
    void testConnection();

  private:
    void updateLogin();

    QLineEdit* server_;
    QLineEdit* port_;
    QLineEdit* database_;
    QLineEdit* user_;
    QLineEdit* password_;
    QCheckBox* integrated_;
};

// Shows the dialog modally, filled with the server and database: a
// complete connection string, or nothing when cancelled.
std::optional<std::string> askServerConnection(QWidget* owner, const std::string& server,
                                               const std::string& database = {});

}  // namespace kestrix
