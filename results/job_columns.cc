#include "results/job_columns.h"

#include <array>

namespace qlok {
namespace {

using K = ColumnKind;

constexpr std::array kColumns = {
    JobColumn{u"社名", K::kText},       JobColumn{u"求人番", K::kText},
    JobColumn{u"電話", K::kText},       JobColumn{u"本社所在地", K::kText},
    JobColumn{u"従業員数", K::kInteger}, JobColumn{u"業界1", K::kText},
    JobColumn{u"業界2", K::kText},      JobColumn{u"業界3", K::kText},
    JobColumn{u"事業内容", K::kText},   JobColumn{u"正", K::kFlag},
    JobColumn{u"フル非", K::kFlag},     JobColumn{u"パート", K::kFlag},
    JobColumn{u"バイト", K::kFlag},     JobColumn{u"派", K::kFlag},
    JobColumn{u"紹予派", K::kFlag},     JobColumn{u"臨", K::kFlag},
    JobColumn{u"自立", K::kFlag},       JobColumn{u"インターン", K::kFlag},
    JobColumn{u"夫婦応", K::kFlag},     JobColumn{u"日雇", K::kFlag},
    JobColumn{u"不問数", K::kInteger},  JobColumn{u"通勤数", K::kInteger},
    JobColumn{u"住込数", K::kInteger},  JobColumn{u"職種1", K::kText},
    JobColumn{u"職種2", K::kText},      JobColumn{u"職種3", K::kText},
    JobColumn{u"職内1", K::kText},      JobColumn{u"就労場所1", K::kText},
    JobColumn{u"就労場所2", K::kText},  JobColumn{u"就労場所3", K::kText},
    JobColumn{u"就労場所4", K::kText},  JobColumn{u"就労場所5", K::kText},
    JobColumn{u"場選", K::kCode},       JobColumn{u"給料系", K::kText},
    JobColumn{u"下固給", K::kInteger},  JobColumn{u"上固給", K::kInteger},
    JobColumn{u"ナス下", K::kInteger},  JobColumn{u"ナス上", K::kInteger},
    JobColumn{u"給説", K::kText},       JobColumn{u"始時", K::kDateTime},
    JobColumn{u"終時", K::kDateTime},   JobColumn{u"始時1", K::kDateTime},
    JobColumn{u"終時1", K::kDateTime},  JobColumn{u"始時2", K::kDateTime},
    JobColumn{u"終時2", K::kDateTime},  JobColumn{u"残時", K::kInteger},
    JobColumn{u"時補", K::kText},       JobColumn{u"日", K::kCode},
    JobColumn{u"月", K::kCode},         JobColumn{u"火", K::kCode},
    JobColumn{u"水", K::kCode},         JobColumn{u"木", K::kCode},
    JobColumn{u"金", K::kCode},         JobColumn{u"土", K::kCode},
    JobColumn{u"祝", K::kCode},         JobColumn{u"年休", K::kInteger},
    JobColumn{u"休日説", K::kText},     JobColumn{u"週低", K::kInteger},
    JobColumn{u"週高", K::kInteger},    JobColumn{u"雇", K::kFlag},
    JobColumn{u"労", K::kFlag},         JobColumn{u"ken", K::kFlag},
    JobColumn{u"厚", K::kFlag},         JobColumn{u"財", K::kFlag},
    JobColumn{u"労組", K::kFlag},       JobColumn{u"育休実", K::kFlag},
    JobColumn{u"単", K::kInteger},      JobColumn{u"世", K::kInteger},
    JobColumn{u"保育園", K::kInteger},  JobColumn{u"カー通勤", K::kInteger},
    JobColumn{u"バイク", K::kFlag},     JobColumn{u"再雇", K::kFlag},
    JobColumn{u"定年", K::kInteger},    JobColumn{u"齢下", K::kInteger},
    JobColumn{u"齢上", K::kInteger},    JobColumn{u"必要学歴", K::kText},
    JobColumn{u"専攻", K::kText},       JobColumn{u"卒業年", K::kText},
    JobColumn{u"現状", K::kText},       JobColumn{u"必免1", K::kText},
    JobColumn{u"必免2", K::kText},      JobColumn{u"必免3", K::kText},
    JobColumn{u"免4", K::kText},        JobColumn{u"免5", K::kText},
    JobColumn{u"免6", K::kText},        JobColumn{u"業界経験", K::kText},
    JobColumn{u"業界経験年", K::kInteger}, JobColumn{u"職種経験", K::kText},
    JobColumn{u"職種経験年", K::kInteger}, JobColumn{u"募集締切日", K::kDate},
    JobColumn{u"採用予定日", K::kDate}, JobColumn{u"応説", K::kText},
    JobColumn{u"自由", K::kText},       JobColumn{u"rank", K::kInteger},
    JobColumn{u"rankmemo", K::kText},   JobColumn{u"障専", K::kFlag},
};

}  // namespace

std::span<const JobColumn> JobColumns() { return kColumns; }

}  // namespace qlok
