#pragma once

#include "Journal.h"

#include <QString>

struct DeploymentFile;

// What the bot and the administrator's commands share before they do their work.
namespace Startup {

// One state line on standard error, "ClientZEP_job: " + `line`, as the headless front writes them. When
// standard error is the journal (a systemd service) the line goes there with its priority and `fields`
// instead.
void stateLine(const QString& line, Journal::Priority priority = Journal::Info,
               const Journal::Fields& fields = {});

// Every unusable line of deployment.ini once to the error log and once as a state line.
void reportDeploymentIssues(const DeploymentFile& deployment, const QString& path);

} // namespace Startup
