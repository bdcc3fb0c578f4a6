<?xml version="1.0" encoding="UTF-8"?>
<!--
  Pieces shared by the three report pages: the page frame with its header and styles,
  the doctor's details, the patient's identity, dates, shares and bars.
  Included by Diabete_to_HTML.xsl, Tao_to_HTML.xsl and Vac_to_HTML.xsl, which must lie in
  the same directory. The templates read the report through local names, so they serve
  every report namespace.
-->
<xsl:stylesheet version="1.0" xmlns:xsl="http://www.w3.org/1999/XSL/Transform"
                xmlns:r="urn:zona12:intervalli"
                xmlns:exsl="http://exslt.org/common"
                exclude-result-prefixes="r exsl">

  <xsl:output method="html" encoding="UTF-8" indent="yes" doctype-system="about:legacy-compat"/>

  <!-- Numbers as an Italian reader writes them: 7,2. -->
  <xsl:decimal-format name="it" decimal-separator="," grouping-separator="."/>

  <!-- What the run tells the page beside the report: the first and last day of the period
       (yyyymmdd), the doctor's name and the health authority. Each may be empty. -->
  <xsl:param name="dal"/>
  <xsl:param name="al"/>
  <xsl:param name="nominativo"/>
  <xsl:param name="asl"/>

  <!-- The whole page, written once into the result: titolo is the programme; the line
       under the title comes from the report's root in mode "riepilogo", the body of the
       report from the root in mode "contenuto" (each programme's stylesheet has both). -->
  <xsl:template name="pagina">
    <xsl:param name="titolo"/>
    <xsl:variable name="radice" select="/*"/>
    <xsl:variable name="medico" select="$radice/*[local-name() = 'medico']"/>
    <xsl:variable name="prodotto">
      <xsl:call-template name="data-ora">
        <xsl:with-param name="valore" select="$radice/*[local-name() = 'dataOraProduzione']"/>
      </xsl:call-template>
    </xsl:variable>
    <html lang="it">
      <head>
        <!-- The Windows browser control renders in its newest mode only when asked. -->
        <meta http-equiv="X-UA-Compatible" content="IE=edge"/>
        <meta name="viewport" content="width=device-width, initial-scale=1"/>
        <title><xsl:value-of select="$titolo"/> – PIV ZONA12</title>
        <style><xsl:call-template name="stile"/><xsl:call-template name="stile-qualita"/></style>
        <script><xsl:call-template name="impaginazione"/></script>
      </head>
      <body>
        <!-- On paper the page is one table, so that its head, the line that names the
             programme, the doctor and the period, is printed again on every sheet. On
             screen the table is laid out as plain blocks and its head is not shown. -->
        <table class="impaginato">
          <thead>
            <tr>
              <td>
                <div class="intestazione-stampa">
                  <strong><xsl:value-of select="$titolo"/></strong>
                  <xsl:text> · Medico: </xsl:text>
                  <xsl:choose>
                    <xsl:when test="normalize-space($nominativo) != ''">
                      <xsl:value-of select="normalize-space($nominativo)"/>
                      <xsl:text> (</xsl:text>
                      <xsl:value-of select="$medico/*[local-name() = 'codiceRegionale']"/>
                      <xsl:text>)</xsl:text>
                    </xsl:when>
                    <xsl:otherwise><xsl:value-of select="$medico/*[local-name() = 'codiceRegionale']"/></xsl:otherwise>
                  </xsl:choose>
                  <xsl:if test="normalize-space($asl) != ''">
                    <xsl:text> · ASL: </xsl:text>
                    <xsl:value-of select="normalize-space($asl)"/>
                  </xsl:if>
                  <xsl:if test="$periodo != ''">
                    <xsl:text> · </xsl:text>
                    <xsl:value-of select="$periodo"/>
                  </xsl:if>
                </div>
              </td>
            </tr>
          </thead>
          <tbody>
            <tr>
              <td>
                <header class="testata">
                  <div class="testata-riga">
                    <div>
                      <div class="marchio">PIV ZONA12 · Report per l'Azienda Sanitaria</div>
                      <h1><xsl:value-of select="$titolo"/></h1>
                      <xsl:if test="$periodo != ''">
                        <p class="periodo"><xsl:value-of select="$periodo"/></p>
                      </xsl:if>
                      <p class="riepilogo"><xsl:apply-templates select="/" mode="riepilogo"/></p>
                    </div>
                    <dl class="dati-medico">
                      <xsl:if test="normalize-space($nominativo) != ''">
                        <div>
                          <dt>Medico</dt>
                          <dd><xsl:value-of select="normalize-space($nominativo)"/></dd>
                        </div>
                      </xsl:if>
                      <xsl:if test="normalize-space($asl) != ''">
                        <div>
                          <dt>ASL</dt>
                          <dd><xsl:value-of select="normalize-space($asl)"/></dd>
                        </div>
                      </xsl:if>
                      <div>
                        <dt>Codice regionale del medico</dt>
                        <dd><xsl:value-of select="$medico/*[local-name() = 'codiceRegionale']"/></dd>
                      </div>
                      <div>
                        <dt>Codice fiscale del medico</dt>
                        <dd><xsl:value-of select="$medico/*[local-name() = 'codiceFiscale']"/></dd>
                      </div>
                      <div>
                        <dt>Prodotto il</dt>
                        <dd><xsl:value-of select="$prodotto"/></dd>
                      </div>
                    </dl>
                  </div>
                </header>
                <main>
                  <xsl:apply-templates select="/" mode="contenuto"/>
                  <xsl:if test="not($medico/*[local-name() = 'assistito'])">
                    <p class="vuoto">Nessun assistito nel report.</p>
                  </xsl:if>
                  <xsl:if test="$medico/*[local-name() = 'assistito']">
                    <xsl:call-template name="qualita-dati">
                      <xsl:with-param name="assistiti" select="$medico/*[local-name() = 'assistito']"/>
                    </xsl:call-template>
                  </xsl:if>
                </main>
                <footer class="piede">
                  Report prodotto da PIV ZONA12 il <xsl:value-of select="$prodotto"/>.
                  Medico <xsl:value-of select="$medico/*[local-name() = 'codiceRegionale']"/>.
                </footer>
              </td>
            </tr>
          </tbody>
        </table>
      </body>
    </html>
  </xsl:template>

  <!-- "Periodo: dal dd/mm/yyyy al dd/mm/yyyy", or "" when the run gave no period. -->
  <xsl:variable name="periodo">
    <xsl:if test="normalize-space($dal) != '' and normalize-space($al) != ''">
      <xsl:text>Periodo: dal </xsl:text>
      <xsl:call-template name="data">
        <xsl:with-param name="valore" select="$dal"/>
      </xsl:call-template>
      <xsl:text> al </xsl:text>
      <xsl:call-template name="data">
        <xsl:with-param name="valore" select="$al"/>
      </xsl:call-template>
    </xsl:if>
  </xsl:variable>

  <!-- yyyymmdd as dd/mm/yyyy; an empty date as a dash; anything else as it stands. -->
  <xsl:template name="data">
    <xsl:param name="valore"/>
    <!-- Eight digits are the only text that every digit turned into 0 makes "00000000"; the
         characters of such a text, a to h, then fill the pattern "gh/ef/abcd". A text is
         read from its node once, and two translations cost less than three cuts and a join. -->
    <xsl:variable name="testo" select="string($valore)"/>
    <xsl:choose>
      <xsl:when test="translate($testo, '0123456789', '0000000000') = '00000000'">
        <xsl:value-of select="translate('gh/ef/abcd', 'abcdefgh', $testo)"/>
      </xsl:when>
      <xsl:when test="normalize-space($testo) = ''">—</xsl:when>
      <xsl:otherwise><xsl:value-of select="$testo"/></xsl:otherwise>
    </xsl:choose>
  </xsl:template>

  <!-- yyyymmddhhMMss as dd/mm/yyyy hh:mm. -->
  <xsl:template name="data-ora">
    <xsl:param name="valore"/>
    <xsl:choose>
      <xsl:when test="string-length($valore) = 14 and translate($valore, '0123456789', '') = ''">
        <xsl:value-of select="concat(substring($valore, 7, 2), '/', substring($valore, 5, 2), '/', substring($valore, 1, 4),
                                     ' ', substring($valore, 9, 2), ':', substring($valore, 11, 2))"/>
      </xsl:when>
      <xsl:otherwise><xsl:value-of select="$valore"/></xsl:otherwise>
    </xsl:choose>
  </xsl:template>

  <!-- The share parte / totale in percent, one decimal, as a number: never 100 while a
       patient is missing and never 0 while one is counted; 0 when totale is 0. -->
  <xsl:template name="quota">
    <xsl:param name="parte"/>
    <xsl:param name="totale"/>
    <xsl:variable name="arrotondata" select="round($parte * 1000 div $totale) div 10"/>
    <xsl:choose>
      <xsl:when test="not($totale &gt; 0)">0</xsl:when>
      <xsl:when test="$parte &lt; $totale and $arrotondata &gt;= 100">99.9</xsl:when>
      <xsl:when test="$parte &gt; 0 and $arrotondata &lt;= 0">0.1</xsl:when>
      <xsl:otherwise><xsl:value-of select="$arrotondata"/></xsl:otherwise>
    </xsl:choose>
  </xsl:template>

  <!-- The share parte / totale as the page shows it: "99,6%". -->
  <xsl:template name="percentuale">
    <xsl:param name="parte"/>
    <xsl:param name="totale"/>
    <xsl:variable name="quota">
      <xsl:call-template name="quota">
        <xsl:with-param name="parte" select="$parte"/>
        <xsl:with-param name="totale" select="$totale"/>
      </xsl:call-template>
    </xsl:variable>
    <xsl:value-of select="format-number($quota, '0,0', 'it')"/>%</xsl:template>

  <!-- A horizontal bar filled to the share parte / totale. -->
  <xsl:template name="barra">
    <xsl:param name="parte"/>
    <xsl:param name="totale"/>
    <xsl:variable name="quota">
      <xsl:call-template name="quota">
        <xsl:with-param name="parte" select="$parte"/>
        <xsl:with-param name="totale" select="$totale"/>
      </xsl:call-template>
    </xsl:variable>
    <xsl:variable name="percentuale">
      <xsl:call-template name="percentuale">
        <xsl:with-param name="parte" select="$parte"/>
        <xsl:with-param name="totale" select="$totale"/>
      </xsl:call-template>
    </xsl:variable>
    <div class="barra" role="img" aria-label="{$percentuale}">
      <span class="barra-piena" style="width: {format-number($quota, '0.0')}%"></span>
    </div>
  </xsl:template>

  <!-- A measured value with a decimal comma and, when it has one, its unit. -->
  <xsl:template name="misura">
    <xsl:param name="valore"/>
    <xsl:param name="unita"/>
    <xsl:value-of select="translate($valore, '.', ',')"/>
    <xsl:if test="normalize-space($valore) != '' and $unita != ''">
      <xsl:if test="$unita != '%'"><xsl:text> </xsl:text></xsl:if>
      <xsl:value-of select="$unita"/>
    </xsl:if>
  </xsl:template>

  <!-- The heading of a patient's block: name, then sex, birth, place of birth and fiscal
       code. Context: the assistito element. -->
  <xsl:template name="anagrafica">
    <xsl:variable name="sesso" select="*[local-name() = 'sesso']"/>
    <xsl:variable name="nascita" select="*[local-name() = 'dataNascita']"/>
    <xsl:variable name="istat" select="*[local-name() = 'comuneNascita']/*[local-name() = 'codiceIstat']"/>
    <h3 class="nome">
      <span class="cognome"><xsl:value-of select="*[local-name() = 'cognome']"/></span>
      <xsl:text> </xsl:text>
      <xsl:value-of select="*[local-name() = 'nome']"/>
    </h3>
    <p class="anagrafica">
      <xsl:if test="normalize-space($sesso) != ''">
        <span class="sesso"><xsl:value-of select="$sesso"/></span>
      </xsl:if>
      <xsl:if test="normalize-space($nascita) != ''">
        <span>
          <xsl:choose>
            <xsl:when test="$sesso = 'F'">nata il </xsl:when>
            <xsl:otherwise>nato il </xsl:otherwise>
          </xsl:choose>
          <xsl:call-template name="data">
            <xsl:with-param name="valore" select="$nascita"/>
          </xsl:call-template>
        </span>
      </xsl:if>
      <xsl:if test="normalize-space($istat) != ''">
        <span>comune ISTAT <xsl:value-of select="$istat"/></span>
      </xsl:if>
      <span class="cf"><xsl:value-of select="*[local-name() = 'codiceFiscale']"/></span>
    </p>
  </xsl:template>

  <!-- One recorded event: its date and, when given, its value with its unit. -->
  <xsl:template name="voce">
    <xsl:param name="data"/>
    <xsl:param name="valore"/>
    <xsl:param name="unita"/>
    <xsl:param name="classe"/>
    <span class="voce {$classe}">
      <span class="quando">
        <xsl:call-template name="data">
          <xsl:with-param name="valore" select="$data"/>
        </xsl:call-template>
      </span>
      <xsl:if test="string($valore) != ''">
        <xsl:text> </xsl:text>
        <strong>
          <xsl:call-template name="misura">
            <xsl:with-param name="valore" select="$valore"/>
            <xsl:with-param name="unita" select="$unita"/>
          </xsl:call-template>
        </strong>
      </xsl:if>
    </span>
  </xsl:template>

  <!-- "Qualità dei dati": what the health authority cannot read as the report holds it,
       patient by patient, for the doctor to correct in the records before sending the
       file. The report itself is not touched. The plausible ranges and the fields that
       hold numbers come from intervalli_plausibili.xml beside the stylesheets. -->
  <xsl:variable name="tabella-intervalli" select="document('intervalli_plausibili.xml')"/>

  <!-- The values the table rejects, by the id of their patient: the elements v that
       qualita-dati makes. -->
  <xsl:key name="fuori-tabella" match="v" use="@assistito"/>

  <!-- The section, after the report's body. assistiti: the report's patients. -->
  <xsl:template name="qualita-dati">
    <xsl:param name="assistiti"/>
    <!-- Every value that the table rejects, one field of the table at a time for the whole
         report: an element v per value, with its patient's id and its place among the
         patient's records, holding the value's item. Each programme's stylesheet finds the
         values of a field (valori-del-campo) by the names of its report's elements.
         The v elements come in groups g, one per field and reason: a patient's values in
         one group are neighbours. That keeps each patient's look-up cheap: the processor
         puts the nodes a key returns in document order, and in a temporary tree it finds
         the order of two siblings by walking the siblings between them, which among
         thousands of v elements side by side cost a walk over most of them per pair. -->
    <xsl:variable name="fuori-rtf">
      <xsl:for-each select="$tabella-intervalli//r:indicatore">
        <xsl:call-template name="valori-del-campo"/>
      </xsl:for-each>
    </xsl:variable>
    <xsl:variable name="fuori" select="exsl:node-set($fuori-rtf)"/>
    <xsl:variable name="con-fuori" select="boolean($fuori/g/v)"/>
    <!-- Each patient's list, made once: the summary above them counts its items. -->
    <xsl:variable name="elenchi-rtf">
      <xsl:for-each select="$assistiti">
        <xsl:variable name="cf" select="string(*[local-name() = 'codiceFiscale'])"/>
        <xsl:variable name="perche-cf">
          <xsl:call-template name="codice-fiscale-problema">
            <xsl:with-param name="cf" select="$cf"/>
          </xsl:call-template>
        </xsl:variable>
        <xsl:variable name="istat" select="*[local-name() = 'comuneNascita']/*[local-name() = 'codiceIstat']"/>
        <xsl:choose>
          <xsl:when test="string($perche-cf) != '' or normalize-space($istat) = ''">
            <xsl:call-template name="qualita-assistito">
              <xsl:with-param name="cf" select="$cf"/>
              <xsl:with-param name="perche-cf" select="string($perche-cf)"/>
              <xsl:with-param name="istat" select="$istat"/>
              <xsl:with-param name="fuori" select="$fuori[$con-fuori]"/>
            </xsl:call-template>
          </xsl:when>
          <xsl:when test="$con-fuori">
            <xsl:variable name="assistito" select="."/>
            <xsl:variable name="id" select="generate-id()"/>
            <xsl:for-each select="$fuori">
              <xsl:if test="key('fuori-tabella', $id)">
                <xsl:for-each select="$assistito">
                  <xsl:call-template name="qualita-assistito">
                    <xsl:with-param name="cf" select="$cf"/>
                    <xsl:with-param name="perche-cf" select="''"/>
                    <xsl:with-param name="istat" select="$istat"/>
                    <xsl:with-param name="fuori" select="$fuori"/>
                  </xsl:call-template>
                </xsl:for-each>
              </xsl:if>
            </xsl:for-each>
          </xsl:when>
        </xsl:choose>
      </xsl:for-each>
    </xsl:variable>
    <xsl:variable name="elenchi" select="exsl:node-set($elenchi-rtf)"/>
    <xsl:variable name="con-problemi" select="count($elenchi/div)"/>
    <xsl:variable name="problemi" select="count($elenchi/div/ul/li)"/>
    <section class="qualita" id="qualita-dati">
      <h2>Qualità dei dati</h2>
      <p class="nota">I valori che l'Azienda Sanitaria non può leggere così come sono registrati: da correggere
        nella cartella clinica prima di inviare il file. Il file XML resta com'è.</p>
      <xsl:if test="not($tabella-intervalli/r:intervalli)">
        <p class="qualita-avviso">Tabella degli intervalli plausibili (intervalli_plausibili.xml) non trovata accanto
          ai fogli di stile: i valori clinici non sono stati controllati.</p>
      </xsl:if>
      <p class="qualita-riepilogo">
        <xsl:choose>
          <xsl:when test="$problemi = 0">Nessun problema</xsl:when>
          <xsl:otherwise>
            <xsl:value-of select="$problemi"/>
            <xsl:choose>
              <xsl:when test="$problemi = 1"> problema</xsl:when>
              <xsl:otherwise> problemi</xsl:otherwise>
            </xsl:choose>
            <xsl:choose>
              <xsl:when test="$con-problemi = 1"> in 1 assistito</xsl:when>
              <xsl:otherwise> in <xsl:value-of select="$con-problemi"/> assistiti</xsl:otherwise>
            </xsl:choose>
          </xsl:otherwise>
        </xsl:choose>
      </p>
      <xsl:copy-of select="$elenchi-rtf"/>
    </section>
  </xsl:template>

  <!-- The values of one field that the table rejects, each as an element v of the
       section's values (qualita-dati), in a group g per reason. Context: the field's indicatore in the table;
       valori: the field's values in the report, which the programme's valori-del-campo
       finds. A value that lies in one of the intervals is read as a number and is
       plausible; that is what almost every value is, and the few left are told apart
       after. -->
  <xsl:template name="valori-fuori-tabella">
    <xsl:param name="valori"/>
    <xsl:param name="intervalli" select="r:intervallo"/>
    <xsl:param name="posizione" select="1"/>
    <xsl:choose>
      <xsl:when test="not($valori)"/>
      <xsl:when test="$posizione &lt;= count($intervalli)">
        <xsl:variable name="min" select="number($intervalli[$posizione]/@min)"/>
        <xsl:variable name="max" select="number($intervalli[$posizione]/@max)"/>
        <xsl:call-template name="valori-fuori-tabella">
          <xsl:with-param name="valori" select="$valori[not(. &gt;= $min and . &lt;= $max)]"/>
          <xsl:with-param name="intervalli" select="$intervalli"/>
          <xsl:with-param name="posizione" select="$posizione + 1"/>
        </xsl:call-template>
      </xsl:when>
      <xsl:otherwise>
        <xsl:variable name="nome" select="string(@nome)"/>
        <xsl:if test="not(@vuoto = 'ammesso')">
          <g>
            <xsl:for-each select="$valori[normalize-space() = '']">
              <xsl:call-template name="valore-fuori">
                <xsl:with-param name="indicatore" select="$nome"/>
                <xsl:with-param name="perche" select="'valore vuoto'"/>
              </xsl:call-template>
            </xsl:for-each>
          </g>
        </xsl:if>
        <g>
          <xsl:for-each select="$valori[normalize-space() != ''][string(number()) = 'NaN']">
            <xsl:call-template name="valore-fuori">
              <xsl:with-param name="indicatore" select="$nome"/>
              <xsl:with-param name="perche"
                              select="concat('non è un numero', substring(' (tra virgolette)', 1, 17 * contains(., '&quot;')),
                                             substring(' (virgola)', 1, 10 * contains(., ',')))"/>
            </xsl:call-template>
          </xsl:for-each>
        </g>
        <xsl:variable name="fuori" select="$valori[string(number()) != 'NaN']"/>
        <xsl:if test="$fuori">
          <xsl:variable name="perche">
            <xsl:text>fuori </xsl:text>
            <xsl:choose>
              <xsl:when test="count($intervalli) = 1">dall'intervallo plausibile </xsl:when>
              <xsl:otherwise>dagli intervalli plausibili </xsl:otherwise>
            </xsl:choose>
            <xsl:for-each select="$intervalli">
              <xsl:if test="position() &gt; 1"> o </xsl:if>
              <xsl:value-of select="concat(translate(@min, '.', ','), '–', translate(@max, '.', ','))"/>
              <xsl:if test="@unita != ''">
                <xsl:if test="@unita != '%'"><xsl:text> </xsl:text></xsl:if>
                <xsl:value-of select="@unita"/>
              </xsl:if>
            </xsl:for-each>
          </xsl:variable>
          <g>
            <xsl:for-each select="$fuori">
              <xsl:call-template name="valore-fuori">
                <xsl:with-param name="indicatore" select="$nome"/>
                <xsl:with-param name="perche" select="string($perche)"/>
              </xsl:call-template>
            </xsl:for-each>
          </g>
        </xsl:if>
      </xsl:otherwise>
    </xsl:choose>
  </xsl:template>

  <!-- A value the table rejects, as an element v (qualita-dati). Context: the value's
       element. -->
  <xsl:template name="valore-fuori">
    <xsl:param name="indicatore"/>
    <xsl:param name="perche"/>
    <v assistito="{generate-id(../../..)}" posto="{count(../preceding-sibling::*) * 64 + count(preceding-sibling::*)}">
      <xsl:call-template name="problema">
        <xsl:with-param name="indicatore" select="$indicatore"/>
        <xsl:with-param name="data" select="string(../*[local-name() = 'data'])"/>
        <xsl:with-param name="valore" select="string(.)"/>
        <xsl:with-param name="perche" select="$perche"/>
      </xsl:call-template>
    </v>
  </xsl:template>

  <!-- A patient's block of problems: the fiscal code, the place of birth, then every value
       the table rejects, in the order of the report. Context: the assistito element;
       fuori: the values rejected (qualita-dati), or nothing when there are none. -->
  <xsl:template name="qualita-assistito">
    <xsl:param name="cf"/>
    <xsl:param name="perche-cf"/>
    <xsl:param name="istat"/>
    <xsl:param name="fuori"/>
    <div class="qualita-assistito">
      <h3 class="nome">
        <span class="cognome"><xsl:value-of select="*[local-name() = 'cognome']"/></span>
        <xsl:text> </xsl:text>
        <xsl:value-of select="*[local-name() = 'nome']"/>
        <xsl:text> </xsl:text>
        <span class="cf"><xsl:value-of select="$cf"/></span>
      </h3>
      <ul class="qualita-problemi">
        <xsl:if test="$perche-cf != ''">
          <xsl:call-template name="problema">
            <xsl:with-param name="indicatore" select="'Codice fiscale'"/>
            <xsl:with-param name="valore" select="$cf"/>
            <xsl:with-param name="perche" select="$perche-cf"/>
          </xsl:call-template>
        </xsl:if>
        <xsl:if test="normalize-space($istat) = ''">
          <xsl:call-template name="problema">
            <xsl:with-param name="indicatore" select="'Comune di nascita'"/>
            <xsl:with-param name="valore" select="string($istat)"/>
            <xsl:with-param name="perche" select="'codice ISTAT del comune di nascita mancante'"/>
          </xsl:call-template>
        </xsl:if>
        <xsl:variable name="id" select="generate-id()"/>
        <xsl:for-each select="$fuori">
          <xsl:for-each select="key('fuori-tabella', $id)">
            <xsl:sort select="@posto" data-type="number"/>
            <xsl:copy-of select="*"/>
          </xsl:for-each>
        </xsl:for-each>
      </ul>
    </div>
  </xsl:template>

  <!-- One problem: the item "Indicatore del dd/mm/yyyy: valore come registrato – perché". -->
  <xsl:template name="problema">
    <xsl:param name="indicatore"/>
    <xsl:param name="data"/>
    <xsl:param name="valore"/>
    <xsl:param name="perche"/>
    <li>
      <span class="qualita-indicatore"><xsl:value-of select="$indicatore"/></span>
      <xsl:if test="$data != ''">
        <xsl:text> del </xsl:text>
        <xsl:call-template name="data">
          <xsl:with-param name="valore" select="$data"/>
        </xsl:call-template>
      </xsl:if>
      <xsl:text>: </xsl:text>
      <xsl:choose>
        <xsl:when test="$valore = ''"><span class="qualita-vuoto">(vuoto)</span></xsl:when>
        <xsl:otherwise><code class="qualita-valore"><xsl:value-of select="$valore"/></code></xsl:otherwise>
      </xsl:choose>
      <xsl:text> – </xsl:text>
      <span class="qualita-perche"><xsl:value-of select="$perche"/></span>
    </li>
  </xsl:template>

  <!-- Why a patient's fiscal code cannot be read, or "" when it can: 16 characters in the
       form of a codice fiscale (six letters, two digits, the month's letter, two digits, a
       letter, three digits) ending in their check character; a digit may be one of the
       letters L-V that replace digits in a code given twice (omocodia). Also read: a
       temporary code of 11 digits, and the codes of foreigners, STP or ENI followed by 13
       digits. -->
  <xsl:template name="codice-fiscale-problema">
    <xsl:param name="cf"/>
    <xsl:variable name="lettere" select="'ABCDEFGHIJKLMNOPQRSTUVWXYZ'"/>
    <xsl:variable name="forma"
                  select="translate($cf, concat($lettere, '0123456789'), 'AAAAAAAAAAAAAAAAAAAAAAAAAA9999999999')"/>
    <xsl:choose>
      <xsl:when test="normalize-space($cf) = ''">codice fiscale mancante</xsl:when>
      <xsl:when test="$forma = '99999999999'"/>
      <xsl:when test="(starts-with($cf, 'STP') or starts-with($cf, 'ENI')) and substring($forma, 4) = '9999999999999'"/>
      <xsl:when test="string-length($cf) != 16">
        <xsl:value-of select="concat('di ', string-length($cf),
                                     ' caratteri: attesi 16, o 11 cifre per un codice provvisorio, o STP/ENI e 13 cifre')"/>
      </xsl:when>
      <xsl:when test="not(substring($forma, 1, 6) = 'AAAAAA' and contains('ABCDEHLMPRST', substring($cf, 9, 1))
                          and substring($forma, 12, 1) = 'A' and substring($forma, 16, 1) = 'A'
                          and translate(concat(substring($cf, 7, 2), substring($cf, 10, 2), substring($cf, 13, 3)),
                                        '0123456789LMNPQRSTUV', '99999999999999999999') = '9999999')">
        <xsl:text>non ha la forma di un codice fiscale (lettere maiuscole e cifre nelle posizioni previste)</xsl:text>
      </xsl:when>
      <xsl:otherwise>
        <!-- The check character: the characters in odd positions (from 1) count as the
             table dispari gives them, those in even positions as pari does; each becomes
             the letter of its count (A 0, B 1, ... Z 25), and the counts add up bit by bit:
             the letters that keep a bit are those left when translate takes away the others.
             The letter is the sum modulo 26. -->
        <xsl:variable name="caratteri" select="'0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ'"/>
        <xsl:variable name="dispari" select="'BAFHJNPRTVBAFHJNPRTVCESULDGIMOQKWZYX'"/>
        <xsl:variable name="pari" select="'ABCDEFGHIJABCDEFGHIJKLMNOPQRSTUVWXYZ'"/>
        <xsl:variable name="valori"
                      select="concat(translate(concat(substring($cf, 1, 1), substring($cf, 3, 1), substring($cf, 5, 1), substring($cf, 7, 1),
                                                       substring($cf, 9, 1), substring($cf, 11, 1), substring($cf, 13, 1), substring($cf, 15, 1)),
                                                $caratteri, $dispari),
                                      translate(concat(substring($cf, 2, 1), substring($cf, 4, 1), substring($cf, 6, 1), substring($cf, 8, 1),
                                                       substring($cf, 10, 1), substring($cf, 12, 1), substring($cf, 14, 1)),
                                                $caratteri, $pari))"/>
        <xsl:variable name="controllo"
                      select="substring($lettere, (string-length(translate($valori, 'ACEGIKMOQSUWY', ''))
                                                   + 2 * string-length(translate($valori, 'ABEFIJMNQRUVYZ', ''))
                                                   + 4 * string-length(translate($valori, 'ABCDIJKLQRSTYZ', ''))
                                                   + 8 * string-length(translate($valori, 'ABCDEFGHQRSTUVWX', ''))
                                                   + 16 * string-length(translate($valori, 'ABCDEFGHIJKLMNOP', ''))) mod 26 + 1, 1)"/>
        <xsl:if test="$controllo != substring($cf, 16, 1)">
          <xsl:value-of select="concat('carattere di controllo errato: con questi 15 caratteri sarebbe ', $controllo)"/>
        </xsl:if>
      </xsl:otherwise>
    </xsl:choose>
  </xsl:template>

  <!-- The page laid out for print by the program before it prints: fixed sheets of the
       paper's size, each with the running header above its content and "Pagina N di M"
       at its foot, every patient's card, row and list entry placed whole on one sheet.
       The browser's own page breaks cannot keep a card of a grid whole, nor give page
       numbers. A block is split only when it is taller than a whole sheet. Plain
       ECMAScript 5, so that the Windows browser control reads the page too. -->
  <xsl:template name="impaginazione">
/* Laid out in steps, so that the engine can free between two steps what the measures
   leave behind: in one long step a large report's garbage grows to several times the
   page's own size. zona12Impagina(misure) prepares the page (misure: the sheet in
   millimetres: larghezza, altezza, and its margins alto, destra, basso, sinistra) and
   answers false when it has nothing to lay out; then each zona12ImpaginaAvanza(ms) places
   blocks for about ms milliseconds and answers {fatti, totale, fogli, finito}: the
   elements placed and to place, and the sheets so far, or all of them once finito. */
window.zona12Impagina = function (misure) {
  var doc = document;
  var tabella = doc.querySelector('.impaginato');
  var sorgente = doc.querySelector('.impaginato > tbody > tr > td');
  var intestazione = doc.querySelector('.intestazione-stampa');
  if (!tabella || !sorgente || !intestazione) return false;
  /* The print rules hold while the sheets are measured, so that they measure as printed. */
  for (var s = 0; s &lt; doc.styleSheets.length; ++s) {
    var regole = doc.styleSheets[s].cssRules;
    for (var r = 0; r &lt; regole.length; ++r)
      if (regole[r].media &amp;&amp; regole[r].media.mediaText === 'print') regole[r].media.appendMedium('screen');
  }
  var mm = function (v) { return v + 'mm'; };
  var stile = doc.createElement('style');
  stile.textContent = '@page { size: ' + mm(misure.larghezza) + ' ' + mm(misure.altezza) + '; margin: 0; }' +
    ' .foglio { width: ' + mm(misure.larghezza) + '; height: ' + mm(misure.altezza - 0.5) + ';' +
    ' padding: ' + mm(misure.alto) + ' ' + mm(misure.destra) + ' ' + mm(misure.basso) + ' ' + mm(misure.sinistra) + '; }';
  doc.head.appendChild(stile);
  tabella.parentNode.removeChild(tabella);
  doc.documentElement.className += ' in-stampa';
  /* Only the sheet being filled is in the document while it is measured, so that each
     measure lays out one sheet, not all those before it. */
  var fogli = doc.createElement('div');
  fogli.className = 'fogli';
  var misura = doc.createElement('div');
  doc.body.appendChild(misura);

  var corpo = null;
  var posati = 0;  /* blocks placed whole on the current sheet */
  var nuovoFoglio = function () {
    if (misura.firstChild) fogli.appendChild(misura.firstChild);
    var foglio = doc.createElement('div');
    foglio.className = 'foglio';
    foglio.appendChild(intestazione.cloneNode(true));
    corpo = doc.createElement('div');
    corpo.className = 'corpo';
    foglio.appendChild(corpo);
    var numero = doc.createElement('div');
    numero.className = 'numero-pagina';
    foglio.appendChild(numero);
    misura.appendChild(foglio);
    posati = 0;
  };
  var trabocca = function () { return corpo.scrollHeight &gt; corpo.clientHeight; };
  /* Blocks whose parts may go to different sheets; every other block stays whole. */
  var divisibile = function (n) {
    return /^(MAIN|SECTION|OL|UL|TBODY)$/.test(n.tagName) &amp;&amp; !/riepilogo-indicatori/.test(n.className) ||
      /(^| )(griglia|richiamo-blocco|elenco)( |$)/.test(n.className);
  };
  var titolo = function (n) { return /^H[1-3]$/.test(n.tagName) || /(^| )nota( |$)/.test(n.className); };
  /* A new sheet, with the containers that dest lies in begun again (a table with its head). */
  var voltaPagina = function (dest) {
    var catena = [];
    for (var n = dest; n !== corpo; n = n.parentNode) catena.unshift(n);
    nuovoFoglio();
    var d = corpo;
    for (var i = 0; i &lt; catena.length; ++i) {
      var guscio = catena[i].cloneNode(false);
      guscio.removeAttribute('id');
      if (catena[i].tagName === 'TABLE')
        for (var c = catena[i].firstElementChild; c; c = c.nextElementSibling)
          if (c.tagName === 'THEAD') guscio.appendChild(c.cloneNode(true));
      d.appendChild(guscio);
      d = guscio;
    }
    return d;
  };
  /* Blocks being laid out part by part: for each, its children, the next one's index,
     and the current sheet's copy of it, where the next child goes. */
  var pila = [];
  /* Places n in dest (the current sheet's copy of n's container); answers the copy where
     n's next sibling goes, or null when n is to be laid out part by part: its copy and
     children are then on top of pila. */
  var posa = function (n, dest) {
    if (n.nodeType !== 1) {
      dest.appendChild(n);
      return dest;
    }
    if (!divisibile(n)) {
      dest.appendChild(n);
      if (!trabocca()) {
        ++posati;
        return dest;
      }
      dest.removeChild(n);
      if (posati &gt; 0) {
        /* A heading goes to the next sheet with the block it heads. */
        var titoli = [];
        while (dest.lastElementChild &amp;&amp; titolo(dest.lastElementChild) &amp;&amp; posati &gt; titoli.length + 1)
          titoli.unshift(dest.removeChild(dest.lastElementChild));
        dest = voltaPagina(dest);
        for (var t = 0; t &lt; titoli.length; ++t) dest.appendChild(titoli[t]);
        posati = titoli.length;
        dest.appendChild(n);
        if (!trabocca()) {
          ++posati;
          return dest;
        }
        dest.removeChild(n);
      }
      /* Taller than a whole sheet: first laid out wider and denser (class "lungo"),
         then, if still too tall, split: only such a block is. */
      if (!/(^| )lungo( |$)/.test(n.className)) {
        n.className += ' lungo';
        dest.appendChild(n);
        if (!trabocca()) {
          ++posati;
          return dest;
        }
        dest.removeChild(n);
      }
      if (!n.firstElementChild) {
        dest.appendChild(n);
        ++posati;
        return dest;
      }
    }
    var guscio = n.cloneNode(false);
    dest.appendChild(guscio);
    pila.push({figli: Array.prototype.slice.call(n.childNodes), i: 0, d: guscio});
    return null;
  };

  nuovoFoglio();
  pila.push({figli: Array.prototype.slice.call(sorgente.childNodes), i: 0, d: corpo});
  var totale = sorgente.getElementsByTagName('*').length;
  var fatti = 0;
  /* Places the next node of the block on top of pila, or ends that block. */
  var passo = function () {
    var cima = pila[pila.length - 1];
    if (cima.i === cima.figli.length) {
      pila.pop();
      if (pila.length) pila[pila.length - 1].d = cima.d.parentNode;
      return;
    }
    var n = cima.figli[cima.i++];
    var d = posa(n, cima.d);
    if (d) cima.d = d;
    if (n.nodeType === 1) fatti += d ? 1 + n.getElementsByTagName('*').length : 1;
  };
  var numeri = null;
  window.zona12ImpaginaAvanza = function (ms) {
    if (!numeri) {
      var fine = Date.now() + ms;
      do passo(); while (pila.length &amp;&amp; Date.now() &lt; fine);
      if (pila.length) return {fatti: fatti, totale: totale, fogli: fogli.childNodes.length + 1, finito: false};
      fogli.appendChild(misura.firstChild);
      doc.body.removeChild(misura);
      doc.body.appendChild(fogli);
      numeri = fogli.querySelectorAll('.numero-pagina');
      for (var p = 0; p &lt; numeri.length; ++p) numeri[p].textContent = 'Pagina ' + (p + 1) + ' di ' + numeri.length;
    }
    return {fatti: totale, totale: totale, fogli: numeri.length, finito: true};
  };
  return true;
};
  </xsl:template>

  <xsl:template name="stile">
* { box-sizing: border-box; }
main, header, footer, section, article { display: block; }
.intestazione-stampa { display: none; }
@media screen {
  .impaginato, .impaginato > tbody, .impaginato > tbody > tr, .impaginato > tbody > tr > td { display: block; }
  .impaginato > thead { display: none; }
}
.impaginato { width: 100%; border-collapse: collapse; }
.impaginato > tbody > tr > td, .impaginato > thead > tr > td { padding: 0; }
html { -webkit-print-color-adjust: exact; print-color-adjust: exact; }
body { margin: 0; background: #f4f6f8; color: #1f2933;
  font: 15px/1.45 "Segoe UI", system-ui, -apple-system, Roboto, "Helvetica Neue", Arial, sans-serif; }
h1, h2, h3 { margin: 0; font-weight: 600; }
.testata { background: linear-gradient(135deg, #0b3d4a, #0f766e); color: #fff; padding: 28px 40px 24px; }
.testata-riga { display: flex; flex-wrap: wrap; gap: 24px; justify-content: space-between; align-items: flex-end;
  max-width: 1100px; margin: 0 auto; }
.marchio { font-size: 12px; letter-spacing: .08em; text-transform: uppercase; opacity: .8; }
.testata h1 { font-size: 28px; margin-top: 4px; }
.periodo { margin: 6px 0 0; font-size: 16px; font-weight: 600; }
.riepilogo { margin: 6px 0 0; opacity: .9; }
.dati-medico { display: flex; gap: 28px; margin: 0; }
.dati-medico dt { font-size: 11px; text-transform: uppercase; letter-spacing: .06em; opacity: .75; }
.dati-medico dd { margin: 2px 0 0; font-size: 16px; font-weight: 600; font-variant-numeric: tabular-nums; }
main { max-width: 1100px; margin: 0 auto; padding: 24px 40px 8px; }
section { margin-bottom: 28px; }
h2 { font-size: 19px; margin: 0 0 4px; color: #0b3d4a; }
.nota { margin: 0 0 14px; color: #5f6b7a; font-size: 13.5px; }
.pannello { background: #fff; border: 1px solid #dde3e8; border-radius: 10px; padding: 18px 22px; }
table { border-collapse: collapse; width: 100%; }
.indicatori td, .indicatori th { padding: 6px 8px; border-bottom: 1px solid #dde3e8; text-align: left; }
.indicatori tr:last-child td, .indicatori tr:last-child th { border-bottom: 0; }
.indicatori th { font-weight: 500; width: 30%; }
.indicatori td.numero { width: 9%; text-align: right; font-variant-numeric: tabular-nums; color: #5f6b7a; white-space: nowrap; }
.indicatori td.quota { width: 7%; text-align: right; font-weight: 600; font-variant-numeric: tabular-nums; }
.barra { height: 12px; background: #e3e8ec; border-radius: 6px; overflow: hidden; min-width: 120px; }
.barra-piena { display: block; height: 100%; background: linear-gradient(90deg, #0f766e, #14b8a6); border-radius: 6px; }
.assistito { background: #fff; border: 1px solid #dde3e8; border-radius: 10px; padding: 16px 20px;
  margin-bottom: 14px; page-break-inside: avoid; break-inside: avoid; }
.assistito-testa { display: flex; flex-wrap: wrap; justify-content: space-between; gap: 8px 16px; align-items: baseline;
  border-bottom: 1px solid #dde3e8; padding-bottom: 10px; margin-bottom: 8px; }
.nome { font-size: 17px; }
.cognome { text-transform: uppercase; letter-spacing: .02em; }
.anagrafica { margin: 2px 0 0; color: #5f6b7a; font-size: 13.5px; }
.anagrafica span + span::before { content: "·"; margin: 0 7px; color: #a0aab4; }
.sesso { font-weight: 600; }
.cf { font-family: "Consolas", "DejaVu Sans Mono", monospace; font-size: 12.5px; letter-spacing: .03em; }
.distintivo { display: inline-block; padding: 3px 10px; border-radius: 999px; font-size: 12.5px; font-weight: 600;
  background: #ccebe7; color: #0b3d4a; white-space: nowrap; }
.distintivo.debole { background: #eef1f4; color: #5f6b7a; }
.presa { margin: 4px 0 0; font-size: 13.5px; }
.rilevazioni th { text-align: left; font-weight: 500; width: 30%; padding: 5px 8px 5px 0; vertical-align: top; font-size: 14px; }
.rilevazioni td { padding: 4px 0; }
.rilevazioni tr + tr th, .rilevazioni tr + tr td { border-top: 1px dashed #e7ebef; }
.rilevazioni .assente th, .assente-testo { color: #98a2ad; font-weight: 400; }
.assente-testo { font-size: 13px; font-style: italic; }
.voce { display: inline-block; margin: 2px 6px 2px 0; padding: 2px 9px; border: 1px solid #dde3e8; border-radius: 6px;
  font-size: 13.5px; background: #fafbfc; white-space: nowrap; }
.voce .quando { color: #5f6b7a; font-variant-numeric: tabular-nums; }
.voce strong { font-weight: 600; }
.voce.ultima { border-color: #0f766e; background: #f0faf8; }
.voce.patologico { border-color: #f1b0a9; background: #fdecea; }
.voce.patologico strong { color: #b42318; }
.griglia { display: grid; grid-template-columns: repeat(auto-fill, minmax(320px, 1fr)); gap: 14px; }
.griglia .assistito { margin-bottom: 0; }
.ultimo { display: flex; align-items: baseline; gap: 10px; margin: 6px 0 10px; }
.ultimo .cifra { font-size: 30px; font-weight: 650; color: #0b3d4a; font-variant-numeric: tabular-nums; }
.ultimo .etichetta { color: #5f6b7a; font-size: 13px; }
.consulenze th, .consulenze td { padding: 4px 8px; border-bottom: 1px solid #edf0f3; text-align: left; font-variant-numeric: tabular-nums; }
.consulenze th { font-size: 12px; text-transform: uppercase; letter-spacing: .05em; color: #5f6b7a; font-weight: 500; }
.consulenze td.valore { text-align: right; font-weight: 600; }
.consulenze th.valore { text-align: right; }
.elenco { background: #fff; border: 1px solid #dde3e8; border-radius: 10px; overflow: hidden; }
.elenco th, .elenco td { padding: 9px 14px; text-align: left; border-bottom: 1px solid #dde3e8; vertical-align: top; }
.elenco thead th { background: #eef3f5; font-size: 12px; text-transform: uppercase; letter-spacing: .05em; color: #5f6b7a; font-weight: 600; }
.elenco tbody tr { page-break-inside: avoid; break-inside: avoid; }
.elenco tbody tr:nth-child(even) { background: #fafbfc; }
.elenco tbody tr:last-child td { border-bottom: 0; }
.elenco td { vertical-align: middle; }
.elenco .nome { font-size: inherit; font-weight: 500; }
.elenco td.eta { font-variant-numeric: tabular-nums; }
.elenco .progressivo { color: #5f6b7a; width: 3em; font-variant-numeric: tabular-nums; }
.cifre { display: flex; gap: 14px; flex-wrap: wrap; }
.cifra-box { background: #fff; border: 1px solid #dde3e8; border-radius: 10px; padding: 12px 18px; min-width: 170px; }
.cifra-box strong { display: block; font-size: 26px; color: #0b3d4a; font-variant-numeric: tabular-nums; }
.cifra-box span { color: #5f6b7a; font-size: 13px; }
.vuoto { padding: 24px; text-align: center; color: #5f6b7a; background: #fff; border: 1px dashed #dde3e8; border-radius: 10px; }
.piede { max-width: 1100px; margin: 0 auto; padding: 8px 40px 32px; color: #8a95a1; font-size: 12px; }
.indicatori td.richiamo { width: 11%; text-align: right; white-space: nowrap; font-size: 13px; }
.indicatori td.richiamo a { color: #b42318; }
.richiamo-blocco { margin-bottom: 14px; }
h3.richiamo-titolo { font-size: 15px; margin: 0 0 6px; color: #0b3d4a; }
.richiamo-titolo .conteggio { font-weight: 400; color: #5f6b7a; font-size: 13px; }
.nomi { margin: 0; padding: 0; list-style: none; -webkit-column-width: 230px; column-width: 230px; column-gap: 18px; }
.nomi li { padding: 1px 0; font-size: 13.5px; page-break-inside: avoid; break-inside: avoid; }
.nomi a { color: inherit; text-decoration: none; }
.nomi .nascita { color: #5f6b7a; font-size: 12px; font-variant-numeric: tabular-nums; }
.nessuno { color: #5f6b7a; font-size: 13px; font-style: italic; margin: 0; }
@page { size: A4; margin: 10mm 10mm 12mm; }
@media print {
  body { background: #fff; font-size: 11px; line-height: 1.25; }
  .intestazione-stampa { display: block; font-size: 9.5px; color: #5f6b7a; border-bottom: 1px solid #c9d1d8;
    padding: 0 0 3px; margin-bottom: 6px; }
  .intestazione-stampa strong { color: #0b3d4a; }
  .testata { padding: 10px 14px; border-radius: 6px; }
  .testata h1 { font-size: 20px; }
  .periodo { font-size: 13px; }
  .dati-medico dd { font-size: 13px; }
  main, .piede { padding-left: 0; padding-right: 0; max-width: none; }
  main { padding-top: 12px; }
  section { margin-bottom: 14px; }
  .pannello, .assistito, .elenco, .cifra-box { border-color: #c9d1d8; }
  .riepilogo-indicatori { page-break-inside: avoid; break-inside: avoid; }
  h2, h3, .nota { page-break-after: avoid; break-after: avoid; }
  h2 { font-size: 15px; }
  .nota { margin-bottom: 6px; font-size: 10px; }
  .pannello { padding: 6px 12px; }
  .indicatori td, .indicatori th { padding: 2px 6px; }
  .richiamo-blocco { page-break-inside: auto; break-inside: auto; margin-bottom: 8px; }
  h3.richiamo-titolo { font-size: 12px; margin-bottom: 2px; }
  .nomi { -webkit-column-width: auto; column-width: auto; -webkit-column-count: 4; column-count: 4; column-gap: 10px; }
  .nomi li { font-size: 9.5px; padding: 0; }
  .nomi .nascita { font-size: 8.5px; }
  .assistito { padding: 4px 8px; margin-bottom: 5px; border-radius: 4px; }
  /* A patient's heading on one line: name, details, enrolment, then the count. */
  .assistito-testa { padding-bottom: 1px; margin-bottom: 2px; flex-wrap: nowrap; align-items: baseline; }
  .assistito-testa > div > * { display: inline; margin-right: 8px; }
  .distintivo { flex: none; }
  .nome { font-size: 12px; }
  .anagrafica, .presa { font-size: 9.5px; margin-top: 0; }
  .cf { font-size: 9px; }
  .distintivo { font-size: 9px; padding: 0 6px; }
  /* The fourteen indicators in two columns. */
  .rilevazioni, .rilevazioni > tbody { display: block; }
  .rilevazioni { -webkit-column-count: 2; column-count: 2; column-gap: 14px; }
  .rilevazioni tr { display: flex; page-break-inside: avoid; break-inside: avoid; }
  .rilevazioni th { flex: 0 0 33%; font-size: 10px; padding: 0 4px 0 0; width: auto; }
  .rilevazioni td { flex: 1 1 auto; padding: 0; }
  .rilevazioni tr + tr th, .rilevazioni tr + tr td { border-top: 0; }
  .assente-testo { font-size: 9.5px; }
  .voce { font-size: 10px; line-height: 1.15; padding: 0 3px; margin: 0 2px 1px 0; border-radius: 3px; }
  .ultimo { margin: 2px 0 4px; }
  .ultimo .cifra { font-size: 18px; }
  .consulenze th, .consulenze td, .elenco th, .elenco td { padding: 2px 6px; }
  .elenco td, .consulenze td { font-size: 10px; }
  .griglia { gap: 6px; grid-template-columns: repeat(3, 1fr); }
  a { color: inherit; text-decoration: none; }
}
/* The page laid out for print (zona12Impagina): its sheets alone, one per printed page. */
html.in-stampa, html.in-stampa body { background: #fff; margin: 0; padding: 0; }
.foglio { display: flex; flex-direction: column; overflow: hidden; page-break-after: always; break-after: page;
  contain: strict; background: #fff; }
.foglio:last-child { page-break-after: auto; break-after: auto; }
.foglio > .intestazione-stampa { flex: none; display: block; }
.foglio > .corpo { flex: 1 1 auto; min-height: 0; overflow: hidden; }
.numero-pagina { flex: none; padding-top: 2px; border-top: 1px solid #c9d1d8; text-align: right; font-size: 9.5px;
  color: #5f6b7a; }
/* A card taller than a sheet: across the whole row, its consultations in four columns. */
.in-stampa .griglia > .lungo { grid-column: 1 / -1; }
.in-stampa .lungo .consulenze, .in-stampa .lungo .consulenze > tbody { display: block; }
.in-stampa .lungo .consulenze > thead { display: none; }
.in-stampa .lungo .consulenze > tbody { -webkit-column-count: 4; column-count: 4; column-gap: 14px; }
.in-stampa .lungo .consulenze tr { display: flex; break-inside: avoid; }
.in-stampa .lungo .consulenze td { flex: 1 1 auto; }
/* The Windows system browser control (IE11 engine) knows neither grid nor flex gaps: there
   the spaces come from margins. Other engines never match this query. */
@media all and (-ms-high-contrast: none), (-ms-high-contrast: active) {
  .testata-riga > * { margin: 0 24px 8px 0; }
  .dati-medico > * { margin-right: 28px; }
  .assistito-testa > * { margin: 0 16px 8px 0; }
  .griglia > * { margin-bottom: 14px; }
  .ultimo > * { margin-right: 10px; }
  .cifre > * { margin: 0 14px 14px 0; }
}
  </xsl:template>

  <!-- The styles of the section "Qualità dei dati" and of the diabetes page's recall list
       by patient. -->
  <xsl:template name="stile-qualita">
.qualita-riepilogo { margin: 0 0 12px; font-weight: 600; }
.qualita-avviso { margin: 0 0 12px; padding: 8px 12px; border: 1px solid #f1b0a9; background: #fdecea; color: #b42318;
  border-radius: 6px; }
.qualita-assistito { background: #fff; border: 1px solid #dde3e8; border-radius: 10px; padding: 10px 16px;
  margin-bottom: 10px; page-break-inside: avoid; break-inside: avoid; }
.qualita-assistito h3 { font-size: 15px; }
.qualita-assistito .cf { font-weight: 400; color: #5f6b7a; margin-left: 6px; }
.qualita-problemi { margin: 4px 0 0; padding-left: 20px; font-size: 13.5px; }
.qualita-indicatore { font-weight: 600; }
.qualita-valore { font-family: "Consolas", "DejaVu Sans Mono", monospace; background: #fdecea; color: #b42318;
  padding: 0 4px; border-radius: 3px; white-space: pre; }
.qualita-vuoto { color: #98a2ad; font-style: italic; }
.qualita-perche { color: #5f6b7a; }
.ordina { margin: 0 0 10px; font-size: 13px; color: #5f6b7a; }
.ordina button { font: inherit; margin-left: 6px; padding: 2px 10px; border: 1px solid #c9d1d8; border-radius: 999px;
  background: #fff; color: #0b3d4a; cursor: pointer; }
.ordina button.scelto { background: #0f766e; border-color: #0f766e; color: #fff; }
.richiamo-assistiti td.numero { white-space: nowrap; font-variant-numeric: tabular-nums; text-align: right; width: 7em; }
.richiamo-assistiti td.assistito-nome { width: 30%; }
.richiamo-assistiti a { color: inherit; }
.vista-assistiti { font-size: 13px; margin: 0 0 12px; }
/* The items as one line of text, wrapped between them; flex leaves out the white space
   between the items, which would stand before each comma. */
.mancanti { margin: 0; padding: 0; list-style: none; display: flex; flex-wrap: wrap; }
.mancanti li:not(:last-child)::after { content: ","; margin-right: 0.35em; }
@media print {
  .ordina, .vista-assistiti { display: none; }
  .qualita-assistito { padding: 3px 8px; margin-bottom: 4px; border-radius: 4px; border-color: #c9d1d8; }
  .qualita-assistito h3 { font-size: 11px; }
  .qualita-problemi { font-size: 9.5px; }
  .richiamo-assistiti td { font-size: 9.5px; }
}
  </xsl:template>

</xsl:stylesheet>
