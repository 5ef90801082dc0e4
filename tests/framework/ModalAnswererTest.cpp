// The test helper that answers prompts: other tests rely on it to drive the
// folder picker and message boxes, so its answers must be the ones scripted.
#include "tests/support/ModalAnswerer.h"

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QTemporaryDir>
#include <gtest/gtest.h>

TEST(ModalAnswerer, ChoosesOrCancelsAFolderAndAnswersUnscriptedPromptsWithDefaults)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString chosen = QDir(dir.path()).filePath(QStringLiteral("target dir"));
    ASSERT_TRUE(QDir().mkpath(chosen));

    ModalAnswerer answerer;
    answerer.ChooseFolder(chosen);
    answerer.CancelFolder();
    answerer.AnswerMessage(QMessageBox::Yes);

    EXPECT_EQ(QFileDialog::getExistingDirectory(nullptr, QStringLiteral("Pick one"), dir.path()), chosen);
    EXPECT_EQ(QFileDialog::getExistingDirectory(nullptr, QStringLiteral("Pick again"), dir.path()), QString());
    EXPECT_EQ(QMessageBox::question(nullptr, QStringLiteral("Q"), QStringLiteral("Go on?")), QMessageBox::Yes);
    // Nothing scripted is left: the defaults answer.
    EXPECT_EQ(QMessageBox::question(nullptr, QStringLiteral("Q"), QStringLiteral("Again?")), QMessageBox::No);
    EXPECT_EQ(QFileDialog::getExistingDirectory(nullptr, QStringLiteral("Unscripted")), QString());
    // A scripted answer that the box does not offer is not used for it.
    answerer.AnswerMessage(QMessageBox::Yes);
    QMessageBox::information(nullptr, QStringLiteral("I"), QStringLiteral("Only OK"));
    EXPECT_EQ(answerer.Pending(), 1u);

    const auto& seen = answerer.SeenPrompts();
    ASSERT_EQ(seen.size(), 6u);
    EXPECT_EQ(seen[0].kind, ModalAnswerer::Kind::FolderDialog);
    EXPECT_EQ(seen[0].caption, QStringLiteral("Pick one"));
    EXPECT_EQ(seen[0].answer, chosen);
    EXPECT_EQ(seen[1].answer, QStringLiteral("rejected"));
    EXPECT_TRUE(seen[1].scripted);
    EXPECT_EQ(seen[2].text, QStringLiteral("Go on?"));
    EXPECT_EQ(seen[2].icon, QMessageBox::Question);
    EXPECT_EQ(seen[2].buttons, QMessageBox::Yes | QMessageBox::No);
    EXPECT_EQ(seen[3].answer, QStringLiteral("No"));
    EXPECT_FALSE(seen[3].scripted);
    EXPECT_FALSE(seen[4].scripted);
    EXPECT_EQ(seen[5].answer, QStringLiteral("Ok"));
}
