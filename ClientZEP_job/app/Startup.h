#pragma once

#include <QString>

struct DeploymentFile;

// What the bot and the administrator's commands share before they do their work.
namespace Startup {

// One state line on standard error, "ClientZEP_job: " + `line`, as the headless front writes them.
void stateLine(const QString& line);

// Every unusable line of deployment.ini once to the error log and once as a state line.
void reportDeploymentIssues(const DeploymentFile& deployment, const QString& path);

} // namespace Startup
