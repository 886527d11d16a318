#include "ServiceHost.h"

#include "tallyro_config.h"

QString serviceHost()
{
    const QString fromEnvironment = qEnvironmentVariable("TALLYRO_SERVICE_HOST").trimmed();
    return fromEnvironment.isEmpty() ? QStringLiteral(TALLYRO_DEFAULT_SERVICE_HOST) : fromEnvironment;
}
