#pragma once
#include <QCoreApplication>
#include <gtest/gtest.h>

namespace fw::test {

// Creates the application object once for a whole test program (App is QCoreApplication or QApplication).
template <class App>
class QtAppEnvironment : public ::testing::Environment {
public:
    void SetUp() override
    {
        if (!QCoreApplication::instance())
            m_app = new App(m_argc, m_argv);
    }
    void TearDown() override
    {
        delete m_app;
        m_app = nullptr;
    }

private:
    int m_argc = 1;
    char m_name[8] = "fwtest";
    char* m_argv[2] = {m_name, nullptr};
    App* m_app = nullptr;
};

} // namespace fw::test
