// The word lists and value patterns the job generator draws from. Only
// job_generator.cc includes this.
#ifndef QLOK_TOOLS_JOB_GENERATOR_DATA_H_
#define QLOK_TOOLS_JOB_GENERATOR_DATA_H_

#include <span>
#include <string_view>

namespace qlok::generator_data {

using Texts = std::span<const std::u16string_view>;

struct Location {
  std::u16string_view prefecture;
  std::u16string_view city;
  std::u16string_view postal;  // first three digits of the postal code
  std::u16string_view area;    // telephone area code
  std::u16string_view towns[2];
};

// At least one city of every prefecture, the prefectures in the order of
// their official numbers (北海道 1 to 沖縄県 47).
inline constexpr Location kLocations[] = {
    {u"北海道", u"札幌市中央区", u"060", u"011", {u"北一条西", u"大通西"}},
    {u"青森県", u"青森市", u"030", u"017", {u"新町", u"長島"}},
    {u"岩手県", u"盛岡市", u"020", u"019", {u"大通", u"中央通"}},
    {u"宮城県", u"仙台市青葉区", u"980", u"022", {u"一番町", u"中央"}},
    {u"秋田県", u"秋田市", u"010", u"018", {u"中通", u"大町"}},
    {u"山形県", u"山形市", u"990", u"023", {u"香澄町", u"七日町"}},
    {u"福島県", u"福島市", u"960", u"024", {u"栄町", u"大町"}},
    {u"茨城県", u"水戸市", u"310", u"029", {u"南町", u"宮町"}},
    {u"栃木県", u"宇都宮市", u"320", u"028", {u"馬場通り", u"東宿郷"}},
    {u"群馬県", u"前橋市", u"371", u"027", {u"本町", u"千代田町"}},
    {u"埼玉県", u"さいたま市大宮区", u"330", u"048", {u"桜木町", u"大門町"}},
    {u"千葉県", u"千葉市中央区", u"260", u"043", {u"富士見", u"新町"}},
    {u"東京都", u"千代田区", u"100", u"03", {u"丸の内", u"神田錦町"}},
    {u"東京都", u"新宿区", u"160", u"03", {u"西新宿", u"高田馬場"}},
    {u"東京都", u"港区", u"105", u"03", {u"芝浦", u"新橋"}},
    {u"東京都", u"八王子市", u"192", u"042", {u"旭町", u"明神町"}},
    {u"神奈川県", u"横浜市西区", u"220", u"045", {u"みなとみらい", u"高島"}},
    {u"神奈川県", u"川崎市川崎区", u"210", u"044", {u"駅前本町", u"砂子"}},
    {u"新潟県", u"新潟市中央区", u"950", u"025", {u"万代", u"東大通"}},
    {u"富山県", u"富山市", u"930", u"076", {u"桜町", u"総曲輪"}},
    {u"石川県", u"金沢市", u"920", u"076", {u"広岡", u"香林坊"}},
    {u"福井県", u"福井市", u"910", u"0776", {u"中央", u"大手"}},
    {u"山梨県", u"甲府市", u"400", u"055", {u"丸の内", u"中央"}},
    {u"長野県", u"長野市", u"380", u"026", {u"南千歳", u"鶴賀"}},
    {u"岐阜県", u"岐阜市", u"500", u"058", {u"橋本町", u"神田町"}},
    {u"静岡県", u"静岡市葵区", u"420", u"054", {u"紺屋町", u"御幸町"}},
    {u"静岡県", u"浜松市中央区", u"430", u"053", {u"砂山町", u"旭町"}},
    {u"愛知県", u"名古屋市中村区", u"450", u"052", {u"名駅", u"椿町"}},
    {u"愛知県", u"名古屋市中区", u"460", u"052", {u"栄", u"錦"}},
    {u"愛知県", u"豊田市", u"471", u"0565", {u"若宮町", u"喜多町"}},
    {u"三重県", u"津市", u"514", u"059", {u"羽所町", u"丸之内"}},
    {u"滋賀県", u"大津市", u"520", u"077", {u"春日町", u"浜大津"}},
    {u"京都府", u"京都市下京区", u"600", u"075", {u"東塩小路町", u"四条通"}},
    {u"大阪府", u"大阪市北区", u"530", u"06", {u"中之島", u"梅田"}},
    {u"大阪府", u"大阪市中央区", u"541", u"06", {u"本町", u"難波"}},
    {u"大阪府", u"堺市堺区", u"590", u"072", {u"南瓦町", u"戎島町"}},
    {u"兵庫県", u"神戸市中央区", u"650", u"078", {u"三宮町", u"元町通"}},
    {u"兵庫県", u"姫路市", u"670", u"079", {u"駅前町", u"西駅前町"}},
    {u"奈良県", u"奈良市", u"630", u"0742", {u"三条町", u"大宮町"}},
    {u"和歌山県", u"和歌山市", u"640", u"073", {u"友田町", u"美園町"}},
    {u"鳥取県", u"鳥取市", u"680", u"0857", {u"東品治町", u"栄町"}},
    {u"島根県", u"松江市", u"690", u"0852", {u"朝日町", u"殿町"}},
    {u"岡山県", u"岡山市北区", u"700", u"086", {u"駅前町", u"本町"}},
    {u"広島県", u"広島市中区", u"730", u"082", {u"紙屋町", u"八丁堀"}},
    {u"広島県", u"福山市", u"720", u"084", {u"東桜町", u"元町"}},
    {u"山口県", u"山口市", u"753", u"083", {u"中市町", u"駅通り"}},
    {u"徳島県", u"徳島市", u"770", u"088", {u"寺島本町", u"一番町"}},
    {u"香川県", u"高松市", u"760", u"087", {u"丸の内", u"兵庫町"}},
    {u"愛媛県", u"松山市", u"790", u"089", {u"一番町", u"大街道"}},
    {u"高知県", u"高知市", u"780", u"088", {u"帯屋町", u"本町"}},
    {u"福岡県", u"福岡市博多区", u"812", u"092", {u"博多駅前", u"祇園町"}},
    {u"福岡県", u"北九州市小倉北区", u"802", u"093", {u"浅野", u"魚町"}},
    {u"佐賀県", u"佐賀市", u"840", u"0952", {u"駅前中央", u"白山"}},
    {u"長崎県", u"長崎市", u"850", u"095", {u"大黒町", u"万才町"}},
    {u"熊本県", u"熊本市中央区", u"860", u"096", {u"桜町", u"花畑町"}},
    {u"大分県", u"大分市", u"870", u"097", {u"府内町", u"中央町"}},
    {u"宮崎県", u"宮崎市", u"880", u"0985", {u"橘通東", u"広島"}},
    {u"鹿児島県", u"鹿児島市", u"890", u"099", {u"中央町", u"山之口町"}},
    {u"沖縄県", u"那覇市", u"900", u"098", {u"久茂地", u"泉崎"}},
};

// What a job of one industry looks like.
struct Industry {
  std::u16string_view name;       // 業界1
  std::u16string_view corporate;  // the corporate form most companies have
  Texts name_endings;             // after the company's base name
  Texts businesses;               // 事業内容
  Texts job_types;                // 職種1..3
  Texts duties;                   // 職内1
  Texts licences;                 // 必免1..3
  Texts welcome;                  // 免4..6
  bool round_the_clock;           // shifts and night work are common
};

inline constexpr std::u16string_view kMedicalEndings[] = {
    u"会", u"会　中央病院", u"会　クリニック"};
inline constexpr std::u16string_view kMedicalBusinesses[] = {
    u"一般病院（内科・外科・整形外科、病床数120床）の運営。\r\n"
    u"地域の中核病院として救急医療にも取り組んでいます。",
    u"内科・小児科クリニックの運営",
    u"訪問看護ステーション、居宅介護支援事業所の運営"};
inline constexpr std::u16string_view kMedicalTypes[] = {
    u"看護師", u"准看護師", u"看護助手", u"医療事務", u"薬剤師", u"理学療法士"};
inline constexpr std::u16string_view kMedicalDuties[] = {
    u"病棟での看護業務全般。\r\n夜勤は月４回程度です。",
    u"外来患者様の受付、会計、レセプト業務。",
    u"医師の指示のもと、患者様のリハビリテーションを担当していただきます。"};
inline constexpr std::u16string_view kMedicalLicences[] = {
    u"看護師", u"准看護師", u"薬剤師", u"理学療法士"};
inline constexpr std::u16string_view kMedicalWelcome[] = {
    u"普通自動車免許", u"医療事務技能審査", u"認定看護師"};

inline constexpr std::u16string_view kCareEndings[] = {u"会", u"福祉会"};
inline constexpr std::u16string_view kCareBusinesses[] = {
    u"特別養護老人ホーム（定員80名）、デイサービスの運営",
    u"訪問介護、通所介護事業。\r\n住み慣れた地域での暮らしを支えています。",
    u"グループホーム、小規模多機能型居宅介護の運営"};
inline constexpr std::u16string_view kCareTypes[] = {
    u"介護職員", u"介護福祉士", u"ケアマネジャー", u"生活相談員",
    u"訪問介護員"};
inline constexpr std::u16string_view kCareDuties[] = {
    u"入居者様の食事、入浴、排泄などの介護業務全般。",
    u"利用者様のご自宅を訪問し、身体介護・生活援助を行います。\r\n"
    u"社用車を使用します。",
    u"ケアプランの作成、ご家族や関係機関との連絡調整。"};
inline constexpr std::u16string_view kCareLicences[] = {
    u"介護福祉士", u"介護職員初任者研修", u"介護支援専門員"};
inline constexpr std::u16string_view kCareWelcome[] = {u"普通自動車免許",
                                                       u"社会福祉士"};

inline constexpr std::u16string_view kMakerEndings[] = {u"工業", u"製作所",
                                                        u"精工", u"化成"};
inline constexpr std::u16string_view kMakerBusinesses[] = {
    u"自動車部品（エンジン周辺部品）の製造",
    u"精密機械部品の切削加工・組立。\r\n国内大手メーカーとの直接取引が中心です"
    u"。",
    u"食品包装用フィルムの製造・販売"};
inline constexpr std::u16string_view kMakerTypes[] = {
    u"製造スタッフ", u"機械オペレーター", u"製品検査", u"組立作業",
    u"製造管理"};
inline constexpr std::u16string_view kMakerDuties[] = {
    u"ＮＣ旋盤による金属部品の加工、段取り、品質チェック。",
    u"ライン作業での部品の組立と目視検査。",
    u"生産計画の作成、工程管理、協力会社との調整業務。"};
inline constexpr std::u16string_view kMakerLicences[] = {
    u"フォークリフト運転技能者", u"玉掛け技能者"};
inline constexpr std::u16string_view kMakerWelcome[] = {
    u"危険物取扱者乙種第４類", u"普通自動車免許"};

inline constexpr std::u16string_view kTransportEndings[] = {u"運輸", u"物流",
                                                            u"急便"};
inline constexpr std::u16string_view kTransportBusinesses[] = {
    u"一般貨物自動車運送事業、倉庫業",
    u"食品・日用品のルート配送。\r\n大手スーパー各店舗への定期便が中心です。"};
inline constexpr std::u16string_view kTransportTypes[] = {
    u"運転手（４トン車）", u"大型トラック運転手", u"配送ドライバー",
    u"倉庫作業員", u"運行管理者"};
inline constexpr std::u16string_view kTransportDuties[] = {
    u"県内の取引先への商品配送。手積み手降ろしは少なめです。",
    u"長距離輸送（関東～関西）、週２～３運行。",
    u"倉庫内での入出庫、ピッキング、検品作業。"};
inline constexpr std::u16string_view kTransportLicences[] = {
    u"中型自動車免許", u"大型自動車免許", u"普通自動車免許（ＡＴ限定不可）"};
inline constexpr std::u16string_view kTransportWelcome[] = {
    u"フォークリフト運転技能者", u"運行管理者（貨物）"};

inline constexpr std::u16string_view kShopEndings[] = {u"ストア", u"商店",
                                                       u"マート"};
inline constexpr std::u16string_view kShopBusinesses[] = {
    u"食品スーパーマーケット（県内１２店舗）の運営",
    u"ドラッグストア、調剤薬局の運営",
    u"婦人服・雑貨の販売。\r\n駅ビル内を中心に出店しています。"};
inline constexpr std::u16string_view kShopTypes[] = {
    u"販売スタッフ", u"レジ担当", u"店長候補", u"品出しスタッフ"};
inline constexpr std::u16string_view kShopDuties[] = {
    u"レジ、接客、商品の陳列や発注など店舗業務全般。",
    u"青果部門での商品加工、品出し、売場作り。"};
inline constexpr std::u16string_view kShopWelcome[] = {u"普通自動車免許",
                                                       u"登録販売者"};

inline constexpr std::u16string_view kOfficeEndings[] = {u"商事", u"産業",
                                                         u"興産"};
inline constexpr std::u16string_view kOfficeBusinesses[] = {
    u"建築資材、住宅設備機器の卸売", u"事務用品・ＯＡ機器の販売、保守サービス",
    u"不動産の売買・賃貸仲介、管理。\r\n地域密着で４０年の実績があります。"};
inline constexpr std::u16string_view kOfficeTypes[] = {
    u"一般事務", u"経理事務", u"営業事務", u"総務", u"営業"};
inline constexpr std::u16string_view kOfficeDuties[] = {
    u"電話・来客応対、受発注入力、書類作成などの一般事務。",
    u"伝票処理、売掛・買掛管理、月次決算の補助。\r\n会計ソフトを使用します。",
    u"既存のお客様を中心としたルート営業。社用車を使用します。"};
inline constexpr std::u16string_view kOfficeLicences[] = {u"普通自動車免許"};
inline constexpr std::u16string_view kOfficeWelcome[] = {
    u"日商簿記検定２級", u"ＭＯＳ（Ｗｏｒｄ・Ｅｘｃｅｌ）", u"宅地建物取引士"};

inline constexpr std::u16string_view kBuilderEndings[] = {u"建設", u"工務店",
                                                          u"組"};
inline constexpr std::u16string_view kBuilderBusinesses[] = {
    u"総合建設業（建築・土木）、公共工事が中心", u"住宅の新築、リフォーム工事"};
inline constexpr std::u16string_view kBuilderTypes[] = {
    u"施工管理", u"現場作業員", u"建築設計", u"土木作業員"};
inline constexpr std::u16string_view kBuilderDuties[] = {
    u"住宅・店舗の施工管理（工程・品質・安全管理）。",
    u"道路工事、上下水道工事の現場作業。\r\n現場へは会社から乗り合いで向かいま"
    u"す。"};
inline constexpr std::u16string_view kBuilderLicences[] = {
    u"２級建築施工管理技士", u"１級土木施工管理技士", u"普通自動車免許"};
inline constexpr std::u16string_view kBuilderWelcome[] = {u"２級建築士",
                                                          u"玉掛け技能者"};

inline constexpr std::u16string_view kFoodEndings[] = {u"フーズ", u"食堂",
                                                       u"フードサービス"};
inline constexpr std::u16string_view kFoodBusinesses[] = {
    u"和食レストラン、居酒屋の運営",
    u"事業所・病院の給食受託。\r\n１日あたり約５００食を提供しています。"};
inline constexpr std::u16string_view kFoodTypes[] = {
    u"調理師", u"調理補助", u"ホールスタッフ", u"店舗責任者候補"};
inline constexpr std::u16string_view kFoodDuties[] = {
    u"仕込み、調理、盛り付け、厨房の清掃。",
    u"お客様のご案内、オーダー、配膳、レジ。"};
inline constexpr std::u16string_view kFoodLicences[] = {u"調理師免許"};
inline constexpr std::u16string_view kFoodWelcome[] = {u"食品衛生責任者",
                                                       u"栄養士"};

inline constexpr std::u16string_view kSoftwareEndings[] = {
    u"システムズ", u"ソフト", u"テクノロジー"};
inline constexpr std::u16string_view kSoftwareBusinesses[] = {
    u"業務システムの受託開発、保守運用",
    u"自治体・医療機関向けパッケージソフトの開発・販売"};
inline constexpr std::u16string_view kSoftwareTypes[] = {
    u"システムエンジニア", u"プログラマー", u"ヘルプデスク",
    u"ネットワーク技術者"};
inline constexpr std::u16string_view kSoftwareDuties[] = {
    u"顧客の業務分析、設計からテストまでの開発工程全般。",
    u"社内外からの問い合わせ対応、パソコンの設定。\r\n未経験の方も研修がありま"
    u"す。"};
inline constexpr std::u16string_view kSoftwareLicences[] = {u"基本情報技術者"};
inline constexpr std::u16string_view kSoftwareWelcome[] = {u"応用情報技術者",
                                                           u"ＣＣＮＡ"};

inline constexpr std::u16string_view kServiceEndings[] = {u"ビルサービス",
                                                          u"警備保障"};
inline constexpr std::u16string_view kServiceBusinesses[] = {
    u"ビル・商業施設の清掃、設備管理", u"施設警備、交通誘導警備、イベント警備"};
inline constexpr std::u16string_view kServiceTypes[] = {
    u"清掃スタッフ", u"施設警備員", u"交通誘導警備員", u"設備管理"};
inline constexpr std::u16string_view kServiceDuties[] = {
    u"オフィスビルの日常清掃（床、トイレ、ゴミ回収）。",
    u"商業施設での出入管理、巡回、防災センター業務。"};
inline constexpr std::u16string_view kServiceWelcome[] = {
    u"施設警備業務検定２級", u"第二種電気工事士"};

inline constexpr Industry kIndustries[] = {
    {u"医療", u"医療法人社団", kMedicalEndings, kMedicalBusinesses,
     kMedicalTypes, kMedicalDuties, kMedicalLicences, kMedicalWelcome, true},
    {u"介護・福祉", u"社会福祉法人", kCareEndings, kCareBusinesses, kCareTypes,
     kCareDuties, kCareLicences, kCareWelcome, true},
    {u"製造業", u"株式会社", kMakerEndings, kMakerBusinesses, kMakerTypes,
     kMakerDuties, kMakerLicences, kMakerWelcome, true},
    {u"運輸・物流", u"株式会社", kTransportEndings, kTransportBusinesses,
     kTransportTypes, kTransportDuties, kTransportLicences, kTransportWelcome,
     true},
    {u"小売業",
     u"株式会社",
     kShopEndings,
     kShopBusinesses,
     kShopTypes,
     kShopDuties,
     {},
     kShopWelcome,
     false},
    {u"卸売業", u"株式会社", kOfficeEndings, kOfficeBusinesses, kOfficeTypes,
     kOfficeDuties, kOfficeLicences, kOfficeWelcome, false},
    {u"建設業", u"株式会社", kBuilderEndings, kBuilderBusinesses, kBuilderTypes,
     kBuilderDuties, kBuilderLicences, kBuilderWelcome, false},
    {u"飲食業", u"株式会社", kFoodEndings, kFoodBusinesses, kFoodTypes,
     kFoodDuties, kFoodLicences, kFoodWelcome, false},
    {u"情報通信業", u"株式会社", kSoftwareEndings, kSoftwareBusinesses,
     kSoftwareTypes, kSoftwareDuties, kSoftwareLicences, kSoftwareWelcome,
     false},
    {u"サービス業",
     u"株式会社",
     kServiceEndings,
     kServiceBusinesses,
     kServiceTypes,
     kServiceDuties,
     {},
     kServiceWelcome,
     true},
};

// Made-up base names; combinations that make well-known real company names
// are avoided.
inline constexpr std::u16string_view kBaseNames[] = {
    u"さくら",   u"ひかり",     u"みらい",   u"あおば", u"わかば",
    u"こもれび", u"ひまわり",   u"すずらん", u"北斗",   u"緑風",
    u"明和",     u"昭栄",       u"三陽",     u"共栄",   u"東和",
    u"新星",     u"栄光",       u"清流",     u"若杉",   u"白樺",
    u"アルファ", u"サンライズ", u"グリーン"};
inline constexpr std::u16string_view kSurnames[] = {
    u"山田", u"佐藤", u"鈴木", u"高橋", u"田中", u"伊藤", u"渡辺", u"中村"};
inline constexpr std::u16string_view kBuildings[] = {
    u"中央ビル", u"第一ビル", u"駅前ビル", u"ＫＭビル", u"さくらビル"};
inline constexpr std::u16string_view kOtherIndustries[] = {
    u"サービス業", u"卸売業", u"小売業", u"不動産業", u"医療・福祉"};
inline constexpr std::u16string_view kEducation[] = {
    u"不問", u"不問", u"高卒以上", u"高卒以上", u"大卒以上", u"専門卒以上"};
inline constexpr std::u16string_view kMajors[] = {u"看護学科", u"情報工学系",
                                                  u"建築学科", u"経済・商学系"};
inline constexpr std::u16string_view kPayNotes[] = {
    u"経験・年齢を考慮の上、当社規定により優遇します。",
    u"試用期間３ヶ月（期間中も同条件）",
    u"通勤手当（上限月２万円）、資格手当、家族手当あり。\r\n"
    u"昇給年１回、賞与年２回（業績による）"};
inline constexpr std::u16string_view kHourNotes[] = {
    u"シフト制（月間休日９日）。\r\n勤務時間は相談に応じます。",
    u"休憩６０分。繁忙期は残業をお願いすることがあります。",
    u"扶養範囲内での勤務も可能です。"};
inline constexpr std::u16string_view kHolidayNotes[] = {
    u"夏季休暇、年末年始休暇、有給休暇あり",
    u"シフトによる（４週８休）。\r\n有給休暇は入社６ヶ月後に１０日付与。",
    u"会社カレンダーによる（ＧＷ・夏季・年末年始に連休あり）"};
inline constexpr std::u16string_view kApplyNotes[] = {
    u"まずはお電話ください。\r\n面接時に履歴書（写真貼付）をご持参ください。",
    u"応募書類（履歴書・職務経歴書）を郵送してください。書類選考の上、"
    u"面接日をご連絡します。",
    u"見学のみも歓迎します。お気軽にお問い合わせください。"};
inline constexpr std::u16string_view kFreeNotes[] = {
    u"未経験の方も先輩社員が丁寧に指導しますので安心してください。",
    u"制服貸与。社員食堂あり（１食２５０円）。\r\n"
    u"駅から徒歩５分、雨の日も通勤が楽です。",
    u"ブランクのある方、子育て中の方も活躍しています。\r\n"
    u"学校行事等での休みにも柔軟に対応します。"};
inline constexpr std::u16string_view kRankMemos[] = {
    u"【この求人のお勧めポイント】\r\n駅から近く通勤に便利です。\r\n"
    u"未経験者歓迎、研修制度が充実しています。",
    u"【この求人のお勧めポイント】\r\n年間休日が多く、"
    u"プライベートも大切にできます。",
    u"【この求人のお勧めポイント】\r\n賞与実績あり。\r\n"
    u"正社員登用の実績も多数あります。"};
inline constexpr std::u16string_view kSituations[] = {
    u"離職中の方、在職中で転職を希望する方", u"子育てが一段落した方"};
inline constexpr std::u16string_view kPeriods[] = {
    u"２０２０年３月～２０２６年３月", u"２０２５年３月卒業予定"};

// Start and end of one shift, in minutes from midnight of 2000/01/01; an
// end past 1440 lies on 2000/01/02.
struct Shift {
  int start;
  int end;
};
struct ShiftPattern {
  Shift shifts[3];
  int count;
};

inline constexpr ShiftPattern kDayPatterns[] = {
    {{{510, 1050}}, 1}, {{{540, 1080}}, 1}, {{{480, 1020}}, 1},
    {{{540, 1050}}, 1}, {{{495, 1035}}, 1}, {{{540, 1080}, {780, 1320}}, 2},
};
inline constexpr ShiftPattern kPartPatterns[] = {
    {{{540, 780}}, 1},   {{{780, 1020}}, 1}, {{{600, 900}}, 1},
    {{{1020, 1320}}, 1}, {{{360, 540}}, 1},  {{{540, 780}, {780, 1020}}, 2},
};
inline constexpr ShiftPattern kRoundTheClockPatterns[] = {
    {{{420, 960}, {600, 1140}, {990, 1770}}, 3},
    {{{360, 900}, {840, 1380}, {1320, 1860}}, 3},
    {{{0, 480}, {480, 960}, {960, 1440}}, 3},
    {{{1320, 1800}}, 1},
    {{{480, 1020}, {1020, 1560}}, 2},
};

}  // namespace qlok::generator_data

#endif  // QLOK_TOOLS_JOB_GENERATOR_DATA_H_
