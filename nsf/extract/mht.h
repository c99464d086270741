// The fixed pieces of every MHT message the reader writes: the part delimiter and the picture
// locations that the body's HTML refers to.
#pragma once

// The delimiter line of every part: "--" followed by the boundary of the envelope. One constant
// serves every message; it is never generated per message.
#define NSF_MHT_DELIMITER "------=_NextPart_000_0004_01CB58DD.164505B0"
#define NSF_MHT_DELIMITER_LEN 43u

// The picture number of a memo's logo, so that its location is file:///ql_<note ID>_image999<ext>.
#define NSF_MAIL_LOGO_IMAGE 999
