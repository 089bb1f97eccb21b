<#
.SYNOPSIS
Registers a scheduled task that runs ralto-update.exe every five minutes while you are logged on.

.DESCRIPTION
The task runs ralto-update.exe from this script's folder with the given host and account in
silent mode, in -Folder (where its four working files are kept), as you, and only while you are
logged on: its boxes need your desktop. A run still going when the next is due is left alone,
so a box left up holds off the task's runs until the run is stopped after 11 minutes, which
leaves room for two slow transfers of five minutes each; silent mode shows only the three
boxes of every mode. Registering again under the same -TaskName replaces the task.

THE PASSWORD IS STORED IN THE TASK IN PLAIN TEXT. The program takes it as an argument, so the
task's action holds it: you and the administrators of this computer can read it there (Task
Scheduler, Get-ScheduledTask, the task's file under C:\Windows\System32\Tasks). At the start
of a run it is in the program's command line, which your other programs and the administrators
can read, until the program overwrites it there with '*', right after reading it. Where the
provider offers a password or token that serves only this host's updates, give that one.
Unregister-ScheduledTask -TaskName ralto-update removes the task and the password with it.

.PARAMETER HostName
The host name to update, e.g. myhost.example.org.

.PARAMETER User
Your user name at the dynamic-DNS provider (not your Windows user name).

.PARAMETER Password
Your password at the provider; asked for with the input hidden when it is not given.

.PARAMETER Folder
The working folder; created when missing. Default: this script's folder.

.PARAMETER TaskName
The task's name in Task Scheduler. Default: ralto-update.

.EXAMPLE
powershell -ExecutionPolicy Bypass -File .\register-task.ps1 -HostName myhost.example.org -User myuser
#>
param(
  [Parameter(Mandatory = $true)] [string] $HostName,
  [Parameter(Mandatory = $true)] [string] $User,
  [Parameter(Mandatory = $true)] [securestring] $Password,
  [string] $Folder,
  [string] $TaskName = 'ralto-update'
)
Set-StrictMode -Version Latest
$ErrorActionPreference = 'Stop'

$program = Join-Path $PSScriptRoot 'ralto-update.exe'
if (-not (Test-Path -LiteralPath $program -PathType Leaf)) {
  throw "ralto-update.exe is not beside this script: $program"
}
# Windows PowerShell leaves $PSScriptRoot empty in a parameter's default, hence here.
if (-not $Folder) { $Folder = $PSScriptRoot }
$Folder = (New-Item -ItemType Directory -Force -Path $Folder).FullName

# The program splits its command line at spaces and drops every double quote: a value with a
# space travels in quotes, and one with a double quote cannot be passed at all.
function ConvertTo-Argument([string] $Value, [string] $Name) {
  if ($Value.Contains('"')) { throw "The $Name holds a double quote, which the program cannot receive." }
  if ($Value -eq '' -or $Value.Contains(' ')) { return '"' + $Value + '"' }
  return $Value
}
$plainPassword = (New-Object System.Net.NetworkCredential('', $Password)).Password
$arguments = @(
  (ConvertTo-Argument $HostName 'host name'),
  (ConvertTo-Argument $User 'user name'),
  (ConvertTo-Argument $plainPassword 'password'),
  'silent'
) -join ' '

# The program's own name is quoted too: it counts its arguments from the whole command line.
$action = New-ScheduledTaskAction -Execute ('"' + $program + '"') -Argument $arguments `
  -WorkingDirectory $Folder
$trigger = New-ScheduledTaskTrigger -Once -At (Get-Date) -RepetitionInterval (New-TimeSpan -Minutes 5)
$principal = New-ScheduledTaskPrincipal -LogonType Interactive -RunLevel Limited `
  -UserId ([System.Security.Principal.WindowsIdentity]::GetCurrent().Name)
$settings = New-ScheduledTaskSettingsSet -MultipleInstances IgnoreNew `
  -ExecutionTimeLimit (New-TimeSpan -Minutes 11) -AllowStartIfOnBatteries -DontStopIfGoingOnBatteries

Register-ScheduledTask -TaskName $TaskName -Action $action -Trigger $trigger -Principal $principal `
  -Settings $settings -Description "Dynamic-DNS update of $HostName every 5 minutes" -Force | Out-Null

Write-Host "Task '$TaskName' registered: ralto-update.exe every 5 minutes in $Folder while you are logged on."
Write-Warning "The task holds the password in plain text; you and this computer's administrators can read it."
