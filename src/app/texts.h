#pragma once

// Every text the application layer shows, in one place.

namespace tovrel::app::texts {

inline constexpr const char* kApplicationTitle = "TovrelMail";
inline constexpr const char* kComposeCaption = "TovrelMail 3.3";
inline constexpr const char* kSettingsCaption = "Settings";

// Conversions and files.
inline constexpr const char* kNotAnInteger = "'%s' is not a valid integer value";
inline constexpr const char* kCannotOpenFile = "Cannot open file \"%s\": %s";
// A file or folder of the program's own data (drafts, the outbox, Sent) that something else put
// in its place.
inline constexpr const char* kRefusedLink = "Refused \"%s\": it is a symbolic link";
inline constexpr const char* kRefusedNotOwnFile =
    "Refused \"%s\": it is not a regular file of your own";
inline constexpr const char* kRefusedNotOwnFolder =
    "Refused \"%s\": it is not a folder of your own";

// Command line.
inline constexpr const char* kLinkNotText = "The mail link is not UTF-8 text: %s";
inline constexpr const char* kLinkControlInAddress =
    "The mail link puts a control character into an address: %s";

// Compose window.
inline constexpr const char* kFromLabel = "From:";
inline constexpr const char* kToLabel = "To:";
inline constexpr const char* kCcLabel = "CC:";
inline constexpr const char* kBccLabel = "BCC:";
inline constexpr const char* kSubjectLabel = "Subject";
inline constexpr const char* kAttach = "Attach";
inline constexpr const char* kSend = "Send";
inline constexpr const char* kQuit = "Quit";
inline constexpr const char* kFileMenu = "&File";
inline constexpr const char* kEditMenu = "&Edit";
inline constexpr const char* kHelpMenu = "&Help";
inline constexpr const char* kWordWrap = "Word wrap";
inline constexpr const char* kAttachDialogTitle = "Attach files";
inline constexpr const char* kSettings = "Settings";
inline constexpr const char* kHelp = "Help";
inline constexpr const char* kFaq = "FAQ";
inline constexpr const char* kCheckForUpdates = "Check for updates";
inline constexpr const char* kAbout = "About";
inline constexpr const char* kSendOutbox = "Send Outbox";
// The status bar's count of kept messages.
inline constexpr const char* kOneKeptMessage = "1 message in the outbox";
inline constexpr const char* kKeptMessages = "%s messages in the outbox";
// What screen readers say of the window's controls where their captions do not say it.
inline constexpr const char* kFromDescription = "The sender: one of your addresses from Settings";
inline constexpr const char* kToDescription = "Recipients, separated by commas";
inline constexpr const char* kCcDescription = "Copies to further recipients, separated by commas";
inline constexpr const char* kBccDescription =
    "Blind copies: recipients the others do not see, separated by commas";
inline constexpr const char* kMessageTextName = "Message text";
inline constexpr const char* kAttachmentsName = "Attachments";
inline constexpr const char* kAttachmentsDescription =
    "Files sent with the message; Delete removes the selected one";
inline constexpr const char* kAttachmentSummaryName = "Attachment count and size";
inline constexpr const char* kAttachDescription = "Adds files to the message";
inline constexpr const char* kStatusName = "Status";
inline constexpr const char* kSendProgressName = "Send progress";
inline constexpr const char* kCancelSendDescription = "Stops the send in progress";
inline constexpr const char* kRemoveIdentityDescription = "The sender address to remove";
// The line beside the attachments: their count and total size.
inline constexpr const char* kOneAttachment = "1 file, %s";
inline constexpr const char* kAttachments = "%s files, %s";
inline constexpr const char* kBytes = "%s bytes";

// Send command.
inline constexpr const char* kSending = "Sending email ...";
inline constexpr const char* kSent = "Email send!";
inline constexpr const char* kSendFailed = "The email was not sent.";
inline constexpr const char* kNoRecipient =
    " No recipient. Please fill in a email address in the To field  ";
inline constexpr const char* kNoSmtpServer =
    "No SMTP server is set. Please set the SMTP server in Settings";
inline constexpr const char* kNoSender =
    "No sender address. Please choose a sender in the From field or set From Email in Settings";
inline constexpr const char* kTryAgainLater = "The failure may be temporary: try again later.";
// The line an error box adds after a failed send: what to check, with the server and port.
inline constexpr const char* kCheckServerAndPort =
    "Check the SMTP server (%s) and the port (%s) in Settings.";
inline constexpr const char* kCheckLogin =
    "Check the user name and password in Settings for %s, port %s.";
inline constexpr const char* kCheckCertificate =
    "Check the certificate of %s (port %s); for a certificate of the server's own making set "
    "\"tlsverify\" to \"0\" in the smtp section of user.reg.";
inline constexpr const char* kCheckSecurity =
    "Check Security in Settings: %s answers on port %s only after an SSL/TLS start.";
// A send the server took for some recipients only: how many of how many, who has it, who has
// not, and why.
inline constexpr const char* kPartlySent =
    "Sent to %s of %s recipients; received by %s; not sent to %s: %s";
inline constexpr const char* kPartlySentStatus = "Sent to %s of %s recipients.";
inline constexpr const char* kSendCancelled = "Send cancelled.";
inline constexpr const char* kCancelSendQuestion =
    "The email is still being sent. Cancel the send and close TovrelMail?";

// Settings dialog.
inline constexpr const char* kMainAccount = "Main Account:";
inline constexpr const char* kFromName = "From Name:";
inline constexpr const char* kFromEmail = "From Email:";
inline constexpr const char* kSmtpServer = "SMTP server:";
inline constexpr const char* kPort = "Port:";
inline constexpr const char* kOk = "OK";
inline constexpr const char* kCancel = "Cancel";
inline constexpr const char* kAddAddress = "Add address";
inline constexpr const char* kName = "Name:";
inline constexpr const char* kEmail = "Email:";
inline constexpr const char* kAdd = "Add";
inline constexpr const char* kRemoveAddress = "Remove address ";
inline constexpr const char* kRemove = "Remove";
inline constexpr const char* kAuthentication = "Authentication";
inline constexpr const char* kUsername = "Username:";
inline constexpr const char* kPassword = "Password:";
inline constexpr const char* kSecurity = "Security";
inline constexpr const char* kSecurityNone = "None";
inline constexpr const char* kSecurityStartTls = "STARTTLS";
inline constexpr const char* kSecurityTls = "SSL/TLS";
inline constexpr const char* kLoginHint =
    "Fill these out if you need to logon to your SMTP server (You normally don't need to).";
inline constexpr const char* kPasswordInKeyring = "The password is kept in the keyring.";
inline constexpr const char* kPasswordInSettingsFile =
    "No keyring is available: the password is kept in the settings file.";
// Before there is a password: where one typed now goes.
inline constexpr const char* kNoPasswordYetKeyring =
    "No password is stored yet; one typed here will be kept in the keyring.";
inline constexpr const char* kNoPasswordYetSettingsFile =
    "No keyring is available: a password typed here goes to the settings file.";
inline constexpr const char* kNoPasswordYet =
    "No password is stored yet; one typed here will be kept in the keyring, or in the settings "
    "file when no keyring answers.";
// The line above the Sign-in button: the address signed in, or none.
inline constexpr const char* kOAuthSignedInAs = "Signed in with OAuth 2.0 as %s";
inline constexpr const char* kOAuthNotSignedIn = "OAuth 2.0: not signed in";
inline constexpr const char* kOAuthTokenCommand = "OAuth 2.0: tokens from the token command";

// Where the password is, and the keyring's waits (the password's own block).
inline constexpr const char* kPasswordStoredInSettingsFile =
    "The password is kept in the settings file (user.reg).";
inline constexpr const char* kPasswordKeyringUnreachable =
    "The password is kept in the keyring, which is not available here";
inline constexpr const char* kAskingKeyring = "Asking the keyring for the password ...";
inline constexpr const char* kStoringInKeyring = "Storing the password in the keyring ...";
inline constexpr const char* kInvalidSender = "The sender address in Settings is not valid: %s";
// printf-style: a To, CC or BCC address that is not one mailbox a server can take.
inline constexpr const char* kInvalidRecipient = "The recipient address %s is not valid";
// The port that goes with each security, when the two typed do not go together.
inline constexpr const char* kPortNeedsTls =
    "Port 465 is for SSL/TLS: with this security the server will not answer.";
inline constexpr const char* kPortNeedsPlainStart =
    "Port %s starts in the clear: choose STARTTLS (or None) for it, not SSL/TLS.";

// The command line's own help, on standard output.
inline constexpr const char* kVersionLine = "TovrelMail 3.3";
inline constexpr const char* kUsage =
    "Usage: tovrelmail [LINK [SUBJECT [BODY [send [FILE...]]]]]\n"
    "       tovrelmail --send-outbox\n"
    "       tovrelmail --help | -h | --version\n"
    "\n"
    "Writes and sends one e-mail through the SMTP server set in Settings.\n"
    "\n"
    "  LINK     a mail link: mailto:ann@example.org,bob@example.org, the addresses alone,\n"
    "           or a link with fields\n"
    "           (mailto:ann@example.org?subject=Hi&cc=bob@example.org&body=...)\n"
    "  SUBJECT  the subject\n"
    "  BODY     one line of text, or -f followed by the path of a text file (-f/tmp/a.txt)\n"
    "  send     send at once without showing the window, then end (also without a display)\n"
    "  FILE     files to attach\n"
    "\n"
    "Exit status: 0 sent (or the window was closed), 1 not sent (the reason is one line on\n"
    "standard error), 75 not sent for a reason that may pass (try again later), 2 no display\n"
    "and not asked to send. A send that fails for a reason that may pass keeps the message in\n"
    "${XDG_DATA_HOME:-~/.local/share}/tovrelmail/outbox; --send-outbox sends what is kept there\n"
    "(0 when the outbox is empty after it, 75 when some wait still, 1 when some were refused).\n"
    "Settings: ${XDG_CONFIG_HOME:-~/.config}/tovrelmail/user.reg\n";

// Outbox and sent copy.
inline constexpr const char* kKeptInOutbox =
    "Kept in the outbox; it goes out with tovrelmail --send-outbox";
// The entry's name, the attempts so far and the reason.
inline constexpr const char* kOutboxKept = "%s: kept in the outbox (attempt %s): %s";
inline constexpr const char* kOutboxFailed = "%s: refused, moved to outbox/failed: %s";
// The entry's name and where its envelope went.
inline constexpr const char* kOutboxSetAside =
    "%s: sent to some recipients, but its envelope could not be updated; set aside as %s so that "
    "no one gets the message twice";
// The entry's name, why it could not be moved and why it was refused.
inline constexpr const char* kOutboxNotMoved =
    "%s: refused, but left in the outbox: it cannot be moved to outbox/failed (%s): %s";
inline constexpr const char* kSendingOutbox = "Sending the messages in the outbox ...";
inline constexpr const char* kOutboxSent = "The messages in the outbox were sent.";
inline constexpr const char* kSentCopyFailed = "Sent, but no copy was kept in Sent: %s";
inline constexpr const char* kCannotWriteCopy = "Cannot write the copy of the message: %s";
inline constexpr const char* kDraftDamaged = "The draft is damaged";
inline constexpr const char* kDraftTooLarge = "The draft holds more than 16 MiB of text";
// Why, and the name the draft is kept under.
inline constexpr const char* kDraftSetAside = "%s; it is kept as %s";
inline constexpr const char* kDiscardQuestion = "Discard this message?";
inline constexpr const char* kRestoreDraftQuestion = "Restore the message you were writing?";
inline constexpr const char* kRestoreDraftButton = "Restore";
inline constexpr const char* kKeepSentCopy = "Keep a copy of sent messages";
inline constexpr const char* kAllowPlainPassword = "Allow sending the password unencrypted";
inline constexpr const char* kNotReadableAgain =
    "The message cannot be written again: %s is no regular file";
inline constexpr const char* kKeepInOutboxQuestion = "Keep it in the outbox and send it later?";

// Start-up without a display.
inline constexpr const char* kNeedsDisplay =
    "TovrelMail needs a display unless it is asked to send";
// Start-up with one: the windows live in a module of their own beside the program.
inline constexpr const char* kNoWindowModule = "TovrelMail cannot load its windows: %s";
// The module with the token request (and the keyring, which then counts as absent). printf-style:
// the loader's message.
inline constexpr const char* kNoServicesModule =
    "TovrelMail cannot load its network services for the token request: %s";

// A failure that carries no text of its own.
inline constexpr const char* kUnknownFailure = "Unknown failure";

// OAuth 2.0 sign-in (the token command, the token endpoint, the sign-in dialog).
inline constexpr const char* kTokenCommandNotStarted = "The token command could not be started: %s";
// The seconds waited and the command's first line of error output.
inline constexpr const char* kTokenCommandTimedOut =
    "The token command did not finish within %s s: %s";
// Its exit status and first line of error output.
inline constexpr const char* kTokenCommandFailed = "The token command failed (exit status %s): %s";
inline constexpr const char* kTokenCommandKilled = "killed";
inline constexpr const char* kTokenCommandSilent =
    "The token command printed no token (exit status %s): %s";
inline constexpr const char* kNotSignedIn =
    "Not signed in with OAuth 2.0: press Sign-in... in Settings, or set a token command";
inline constexpr const char* kSignInAgain =
    "Sign in again in Settings (the provider refused the saved sign-in)";
inline constexpr const char* kTokenRefused = "The provider refused the token request: %s";
// The token endpoint's host and the reason.
inline constexpr const char* kTokenRequestFailed = "The token request to %s failed: %s";
inline constexpr const char* kTokenMissing = "the answer holds no access token";
// The URL as typed: anything but https would hand the codes and tokens to whoever listens, or
// the browser a file or a script.
inline constexpr const char* kTokenUrlNotHttps = "The token URL is not an https: address: %s";
inline constexpr const char* kAuthUrlNotHttps =
    "The authorization URL is not an https: address: %s";
// The address the endpoint sent the request on to.
inline constexpr const char* kTokenRedirected =
    "the endpoint sent the request on to %s, which is not followed";
inline constexpr const char* kTokenAnswerTooLarge = "the answer is larger than 64 KiB";
// The seconds waited.
inline constexpr const char* kTokenAnswerTooSlow = "no complete answer within %s s";
inline constexpr const char* kTokenCommandLineTooLong =
    "The token command's first line is longer than 64 KiB";
inline constexpr const char* kSignInTooLong = "The sign-in took too long";
// The page the loopback listener shows for a request that is not the provider's answer to
// this sign-in.
inline constexpr const char* kSignInBrowserIgnored =
    "This is not the answer TovrelMail is waiting for; the sign-in goes on.";
inline constexpr const char* kSignInButton = "Sign-in...";
inline constexpr const char* kSignInCaption = "Sign-in";
inline constexpr const char* kAuthenticationLabel = "Authentication:";
inline constexpr const char* kAuthPassword = "Password";
inline constexpr const char* kAuthOAuth2 = "OAuth 2.0";
inline constexpr const char* kProviderLabel = "Provider:";
inline constexpr const char* kProviderGoogleName = "Google";
inline constexpr const char* kProviderMicrosoftName = "Microsoft";
inline constexpr const char* kProviderCustomName = "Custom";
inline constexpr const char* kClientIdLabel = "Client ID:";
inline constexpr const char* kClientSecretLabel = "Client secret:";
inline constexpr const char* kAuthUrlLabel = "Authorization URL:";
inline constexpr const char* kTokenUrlLabel = "Token URL:";
inline constexpr const char* kScopeLabel = "Scope:";
inline constexpr const char* kTokenCommandLabel = "Token command:";
inline constexpr const char* kSignIn = "Sign in";
inline constexpr const char* kSignOut = "Sign out";
inline constexpr const char* kSignedInAs = "Signed in as %s.";
inline constexpr const char* kAskingKeyringSignIn = "Asking the keyring for the sign-in ...";
inline constexpr const char* kNotSignedInYet = "Not signed in.";
inline constexpr const char* kSignInRefusedAgain =
    "The provider refused the saved sign-in: sign in again.";
inline constexpr const char* kSigningIn = "Waiting for the browser ...";
inline constexpr const char* kSignInFailed = "Sign-in failed: %s";
inline constexpr const char* kNoRefreshToken = "the provider gave no refresh token";
inline constexpr const char* kSignInBrowserDone =
    "TovrelMail is signed in. You may close this page.";
inline constexpr const char* kRefreshInSettingsFile =
    "No keyring is available: the sign-in is kept in the settings file.";

}  // namespace tovrel::app::texts

namespace tovrel::app {

// The texts and addresses of the Help menu, the update check and the About box.
namespace help_texts {
inline constexpr const char* kProductHost = "www.tovrel.example";
inline constexpr const char* kHomePage = "http://www.tovrel.example/";
inline constexpr const char* kFaqPage = "http://www.tovrel.example/faq.htm";
inline constexpr const char* kProductPage = "http://www.tovrel.example/tovrelmail.htm";
inline constexpr const char* kUpdatePath = "/updates/tovrelmail33.upd";
inline constexpr const char* kHelpFile = "manual.htm";

inline constexpr const char* kNewVersion = "new";
inline constexpr const char* kCookiePrefix = "Cookie:/n";
inline constexpr const char* kNoUpdates = "No updates available.";
inline constexpr const char* kUpdateAvailable = "Update Available. Do you want to know more?";
inline constexpr const char* kCheckingTitle = "Checking for updates";
// The status of the reply, as "404 Not Found".
inline constexpr const char* kUpdateCheckFailed = "The update check failed: HTTP %s";
inline constexpr const char* kUpdateServerUnreachable =
    "The update server %s could not be reached.";

inline constexpr const char* kAboutCaption = "About";
inline constexpr const char* kProductName = "TovrelMail";
inline constexpr const char* kVersion = "Version 3.31";
inline constexpr const char* kNotice =
    "Copyright (c) 2003-2026 Tovrel. Written by the TovrelMail team.";
inline constexpr const char* kSiteLabel = "www.tovrel.example";
inline constexpr const char* kOk = "OK";
}  // namespace help_texts

}  // namespace tovrel::app
