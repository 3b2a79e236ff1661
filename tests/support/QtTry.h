#pragma once
// Qt's QTRY_ macros report to the QtTest runner, which these GoogleTest programs do not
// run: a wait that timed out returned from the test without a word and let it pass. These
// wait the same way (the event loop turning, up to 5 s) and fail the GoogleTest test.
#include <QTest>
#include <gtest/gtest.h>

#undef QTRY_VERIFY
#undef QTRY_COMPARE
#undef QTRY_COMPARE_WITH_TIMEOUT

#define QTRY_COMPARE_WITH_TIMEOUT(expr, expected, timeout)                                        \
  do {                                                                                           \
    (void)QTest::qWaitFor([&] { return (expr) == (expected); }, (timeout));                        \
    ASSERT_EQ((expr), (expected)) << "after waiting " << (timeout) << " ms";                    \
  } while (false)
#define QTRY_COMPARE(expr, expected) QTRY_COMPARE_WITH_TIMEOUT(expr, expected, 5000)
#define QTRY_VERIFY(expr)                                                                        \
  do {                                                                                           \
    ASSERT_TRUE(QTest::qWaitFor([&] { return bool(expr); }, 5000)) << #expr;                     \
  } while (false)
