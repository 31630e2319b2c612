#pragma once

#include <QWidget>

namespace tallyport {

// The "Autor..." page: a white panel with two pictures and a few lines about the program.
class AuthorPage final : public QWidget {
    Q_OBJECT
public:
    explicit AuthorPage(QWidget* parent = nullptr);
};

}  // namespace tallyport
