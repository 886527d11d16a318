#pragma once

#include "RecordedStep.h"

#include <QList>
#include <QObject>

// The transaction being recorded: at most 150 steps in recording order.
// Views (the step editor's list) follow it through the signals; a view shows
// line i for step i at all times.
class StepStore : public QObject
{
    Q_OBJECT
public:
    static constexpr int capacity = 150;

    enum class AddResult
    {
        Added,
        NotWebAddress,
        StoreFull,
        Duplicate
    };

    explicit StepStore(QObject* parent = nullptr);

    // Appends a step unless the address is not a web or ftp address, the store is
    // full or the step duplicates an earlier one. A full store is the only refusal
    // the caller must report to the user (see fullStoreMessage()).
    AddResult add(const RecordedStep& step);
    // The same, field by field.
    AddResult addURL(const QString& URL, const QString& PD, const QString& sKeywords = {},
                     const QString& sErrors = {}, const QString& sCookies = {}, const QString& sHttpUser = {},
                     const QString& sHttpPass = {}, const QString& sTimeout = {}, const QString& sPing = {},
                     const QString& sLabel = {});

    // True when a step with this address and post data may be added.
    bool notExistURL(const QString& U, const QString& P) const;
    // True when two stored steps have the same address and post data.
    bool haveDuplicateURLs() const;

    // Deletes the step at position p. With fewer than two steps the store is cleared.
    // Otherwise the store asks its view, with commitLock raised, to select the step
    // that the editor shows afterwards (selectionRequested), and returns its position;
    // -1 when the store was cleared.
    int deleteItem(int p);
    void clearitems();

    int count() const { return m_steps.size(); }
    bool isEmpty() const { return m_steps.isEmpty(); }
    const RecordedStep& at(int pos) const { return m_steps.at(pos); }
    const QList<RecordedStep>& steps() const { return m_steps; }

    // Writes the editor's settings into the step at pos; positions without a step
    // are ignored.
    void setSettings(int pos, const StepSettings& settings);
    StepSettings settings(int pos) const;

    int currentStep() const { return m_currentStep; }
    void setCurrentStep(int pos) { m_currentStep = pos; }
    bool commitLock() const { return m_commitLock; }
    bool allowDuplicates() const { return m_allowDuplicates; }
    void setAllowDuplicates(bool allow) { m_allowDuplicates = allow; }

    static bool isWebAddress(const QString& url);
    static QString fullStoreMessage()
    {
        return QStringLiteral("Too many steps in a transaction...maximum = 150!");
    }
    static QString fullStoreTitle() { return QStringLiteral("No more"); }

signals:
    void stepAdded(int pos);
    void stepRemoved(int pos);
    void cleared();
    // A deletion asks the view to select this line; commitLock is raised meanwhile.
    void selectionRequested(int pos);
    void changed();

private:
    QList<RecordedStep> m_steps;
    int m_currentStep = 0;
    bool m_commitLock = false;
    bool m_allowDuplicates = false;
};
